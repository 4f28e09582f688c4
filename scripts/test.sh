#!/usr/bin/env bash
# Fresh machine to green tests: install, configure, build, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci --output-on-failure
