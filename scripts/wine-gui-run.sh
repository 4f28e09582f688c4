#!/usr/bin/env bash
# Runs a Windows program with windows under Wine on a private X display:
#   wine-gui-run.sh PREFIX PROGRAM.exe [ARGS...]
# The GUI tests' emulator. Like wine-run.sh (a prefix of its own, made once),
# plus an Xvfb display for this run alone and a CJK font standing in for the
# faces the windows and message boxes ask for, so that Chinese captions are
# drawn rather than boxes, and Wine drawing the frames (there is no window
# manager). The wine server and the desktop process of the
# prefix end with the run: a later run brings its own display. The program's
# exit code is this script's.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
prefix="$1"
shift
# VELTORA_WINE_DPI=N: a prefix of its own whose screen is N DPI (96 = 100 %),
# for the scaled layouts.
dpi="${VELTORA_WINE_DPI:-}"
[ -z "$dpi" ] || prefix="$prefix-${dpi}dpi"
here="$(cd "$(dirname "$0")" && pwd)"

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
wine=$(command -v wine)
fonts="$prefix/.veltora-fonts"

# The font replacements go into the prefix once, after wine-run.sh has made it.
if [ ! -e "$fonts" ]; then
  "$here/wine-run.sh" "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -e "$fonts" ]; then
    cjk="WenQuanYi Micro Hei"
    for face in SimSun 宋体 NSimSun "MS Shell Dlg" "MS Shell Dlg 2" Tahoma "Microsoft Sans Serif" \
                "MS Sans Serif" "Segoe UI" "Microsoft YaHei" 微软雅黑; do
      "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "$cjk" /f >/dev/null 2>&1
    done
    if [ -n "$dpi" ]; then
      "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    fi
    # No window manager runs on the display: Wine draws the frames and title
    # bars itself, so that screenshots show the captions.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$fonts"
  fi
  flock -u 9
  exec 9>&-
fi

# One run at a time per prefix, whoever starts it (the build lists the tests
# of two programs at once): each run ends the prefix's wine server, which
# would cut another run off mid-way. The lock is not handed to the programs,
# so a process that outlives the run cannot hold it.
exec 8>"$prefix.run.lock"
flock 8
# A run of its own on a display of its own: nothing of an earlier run's
# desktop may hold a display that is gone.
wineserver -k >/dev/null 2>&1 8>&- || true
wineserver -w >/dev/null 2>&1 8>&- || true
export VELTORA_TEST_UNC_SHARE='\\veltora-test\share'
status=0
xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$wine" "$@" 8>&- || status=$?
wineserver -k >/dev/null 2>&1 8>&- || true
exit "$status"
