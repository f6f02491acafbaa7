#!/usr/bin/env bash
# check-reproducible.sh SOURCE_DIR WORK_DIR BUILT_FILE
# Builds the universal file again from SOURCE_DIR in a fresh WORK_DIR (a
# different path from the first build) and compares the two byte for byte.
set -euo pipefail
source_dir=$1 work=$2 built=$3
rm -rf "$work"
cmake -S "$source_dir" -B "$work" -G Ninja --toolchain "$source_dir/build/macos-x64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLERPWORK_TEST_DIRS=build/macos \
  -DLERPWORK_MACOS_UNIVERSAL=ON -DCMAKE_LIBRARY_OUTPUT_DIRECTORY="$work/x86_64" >/dev/null
cmake --build "$work" >/dev/null
status=0
for f in Lerpwork.dylib x86_64/Lerpwork.dylib i386/Lerpwork.dylib; do
  if cmp -s "$(dirname "$built")/$f" "$work/$f"; then
    echo "identical: $f"
  else
    echo "DIFFERENT: $f"; status=1
  fi
done
rm -rf "$work"
exit $status
