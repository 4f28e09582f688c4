#!/usr/bin/env bash
# Fresh machine to green tests: install, configure, build, run every test —
# the Linux build natively, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-layers.sh
scripts/check-format.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci --output-on-failure

scripts/install-windows-deps.sh
cmake --workflow --preset windows
