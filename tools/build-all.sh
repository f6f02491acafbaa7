#!/usr/bin/env bash
# Builds every deliverable and shows what a host sees of each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
source tools/presets.sh

for preset in "${LERPWORK_PRESETS[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in "${LERPWORK_PRESETS[@]}"; do
  show_host_view "$preset"
done
