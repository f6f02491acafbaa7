#!/usr/bin/env bash
# Runs every test: each preset is configured, built and its CTest suite run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
source tools/presets.sh

failed=()
for preset in "${LERPWORK_PRESETS[@]}" "${LERPWORK_TEST_ONLY_PRESETS[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || failed+=("$preset")
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "failed presets: ${failed[*]}"
  exit 1
fi
