#!/usr/bin/env bash
# Runs a Windows console program under Wine in a prefix of its own:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# CTest uses it as the cross-compiling emulator of the Windows build, with the
# prefix inside the build folder, so every build tests in a fresh Windows of
# its own and removing the build folder removes it. The prefix is made on
# first use (wineboot -i), once, however many runs start at that moment. The
# program's exit code is this script's.
#
# The prefix also holds a share for the tests: \\veltora-test\share is the
# folder PREFIX-share beside it (Wine reaches a UNC path through the prefix's
# dosdevices/unc links), named to the programs in VELTORA_TEST_UNC_SHARE.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
prefix="$1"
shift

export WINEPREFIX="$prefix"
export WINEARCH=win64
# No Mono or Gecko installers at start-up, no debug chatter on stderr.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Console programs need no display; a DISPLAY that is not there only slows
# Wine down.
[ -n "${VELTORA_WINE_KEEP_DISPLAY:-}" ] || unset DISPLAY

wine=$(command -v wine)
ready="$prefix/.veltora-ready"

if [ ! -e "$ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -e "$ready" ]; then
    rm -rf "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -w
    mkdir -p "$prefix/dosdevices/unc/veltora-test" "$prefix-share"
    ln -sfn "$prefix-share" "$prefix/dosdevices/unc/veltora-test/share"
    touch "$ready"
  fi
  flock -u 9
  exec 9>&-
fi

export VELTORA_TEST_UNC_SHARE='\\veltora-test\share'
# One wine server for the prefix that outlives each program by a while: a
# server that shuts down as its last program ends races with the next
# program's connection ("wine client error: recvmsg: Connection reset by
# peer"), and test programs follow each other closely. A server already
# running for the prefix makes this a no-op.
wineserver -p30 >/dev/null 2>&1 || true
exec "$wine" "$@"
