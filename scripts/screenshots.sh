#!/usr/bin/env bash
# The README's screenshots, of the program a user installs: the Windows
# build's veltora-setup.exe installed silently into a throw-away Wine prefix
# on a private Xvfb display (fonts as scripts/wine-gui-run.sh sets them up),
# the installed veltora.exe started with its manifest and icon, and its main
# window (both pages) and backup log window written to docs/screenshots.
#   scripts/screenshots.sh [BUILD_DIR]      (default build/windows)
# Build first: cmake --build --preset windows --target readme_screenshots
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build/windows}" && pwd)"
setup="$build/bin/veltora-setup.exe"
tool="$build/bin/readme_screenshots.exe"
for f in "$setup" "$tool"; do
  [ -f "$f" ] || { echo "screenshots: $f missing (build the target readme_screenshots)" >&2; exit 2; }
done

# Never the prefix the tests use: this one gets a program installed.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/shots"
status=0
"$repo/scripts/wine-gui-run.sh" "$work/prefix" "$tool" "Z:$setup" "Z:$work/shots" || status=$?

shopt -s nullglob
for bmp in "$work/shots"/*.bmp; do
  png="$repo/docs/screenshots/$(basename "${bmp%.bmp}").png"
  "$repo/scripts/bmp-to-png.py" "$bmp" "$png"
  echo "screenshots: $png"
done
exit "$status"
