#!/usr/bin/env bash
# Fresh machine to a demonstration run: install, build, then back up a generated
# sample of both kinds of account sets and print the run log and backup table.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
demo_dir="${1:-$(mktemp -d /tmp/veltora-demo-XXXXXX)}"
exec build/release/bin/veltora-cli demo "$demo_dir"
