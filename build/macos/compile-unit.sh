#!/usr/bin/env bash
# Compiler launcher of the macOS slices: compile-unit.sh <compiler> <args...>.
#
# clang's optimiser evaluates a unit's initialiser at compile time whenever it
# can and lays its results down as initialised data; the units of the empty
# packages would then lose the initialiser that fills their constant tables at
# load. So a compile runs clang's own O2 pipeline in three steps, leaving out
# only the global-constructor evaluation: the front end writes unoptimised
# bitcode, opt runs the O2 pipeline without globalopt, and clang generates the
# object from that bitcode. Everything else (inlining, folding, code
# generation at O2) is what clang -O2 does. Anything that is not a compile to
# an object passes straight through.
set -euo pipefail

compiler=$1
shift
compile=0 output= target=
args=("$@")
for ((i = 0; i < ${#args[@]}; ++i)); do
  case "${args[i]}" in
    -c) compile=1;;
    -o) output=${args[i + 1]};;
    --target=*) target=${args[i]#--target=};;
    -target) target=${args[i + 1]};;
  esac
done
if [ "$compile" = 0 ] || [ -z "$output" ] || [ -z "$target" ]; then
  exec "$compiler" "$@"
fi

front=("${args[@]}")
for ((i = 0; i < ${#front[@]}; ++i)); do
  [ "${front[i]}" = -o ] && front[i + 1]=$output.front.bc
done

llvm_bin=$(dirname "$(readlink -f "$(command -v "$compiler")")")
pipeline=$("$llvm_bin/opt" -passes='default<O2>' -print-pipeline-passes -disable-output /dev/null)
pipeline=${pipeline//,globalopt,/,}
case ",$pipeline," in
  *,globalopt,*|*globalopt\<*) echo "compile-unit.sh: globalopt left in the pipeline" >&2; exit 1;;
esac

trap 'rm -f "$output.front.bc" "$output.opt.bc" "$output.opt.ll"' EXIT
"$compiler" "${front[@]}" -emit-llvm -Xclang -disable-llvm-passes
"$llvm_bin/opt" -passes="$pipeline" "$output.front.bc" -o "$output.opt.bc"
case "$target" in
  i386-*)
    # The older linker of the i386 slice resolves references to hidden weak
    # definitions to wrong addresses (calls and virtual-table slots land on
    # unrelated code and data). Hidden symbols end up local to the image, so
    # a hidden inline function becomes an ordinary hidden definition here;
    # one that two units define would stop the link as a duplicate.
    "$llvm_bin/llvm-dis" "$output.opt.bc" -o "$output.opt.ll"
    sed -i 's/^define linkonce_odr hidden /define hidden /' "$output.opt.ll"
    "$llvm_bin/llvm-as" "$output.opt.ll" -o "$output.opt.bc";;
esac
"$compiler" --target="$target" -O2 -Xclang -disable-llvm-passes -c "$output.opt.bc" -o "$output"
