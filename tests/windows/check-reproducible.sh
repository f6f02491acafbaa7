#!/usr/bin/env bash
# Builds Lerpwork.dll a second time, from the same sources in a build tree of
# another path, and requires the two files to be the same bytes.
#   check-reproducible.sh SOURCE_DIR BUILT_DLL
set -euo pipefail
source_dir=$1 built=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source_dir" -B "$scratch/second" -G Ninja --toolchain "$source_dir/build/windows-x86.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLERPWORK_TEST_DIRS=build/windows >/dev/null
cmake --build "$scratch/second" --target Lerpwork >/dev/null
if cmp "$built" "$scratch/second/Lerpwork.dll"; then
  echo "two builds of Lerpwork.dll are identical ($(stat -c %s "$built") bytes)"
else
  echo "FAILED: the second build of Lerpwork.dll differs"
  exit 1
fi
