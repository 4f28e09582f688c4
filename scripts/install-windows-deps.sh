#!/usr/bin/env bash
# Installs what the Windows build needs on Debian 12, as root: the MinGW-w64
# cross compiler, Wine to run the tests, and - built from Debian's own sources
# with MinGW - SQLite (a static library), GoogleTest and the archiver 7zr.exe.
#
# The results go under VELTORA_MINGW_PREFIX (default /opt/veltora-mingw), which
# cmake/mingw-w64-x86_64.cmake searches. Safe to run again: a dependency whose
# Debian version is already built there is left alone, and 7zr.exe is kept
# under VELTORA_WINDOWS_CACHE (default /var/cache/veltora-windows) by version,
# so the archiver is compiled once per version of the 7zip source package.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${VELTORA_MINGW_PREFIX:-/opt/veltora-mingw}"
cache="${VELTORA_WINDOWS_CACHE:-/var/cache/veltora-windows}"
jobs="${VELTORA_BUILD_JOBS:-2}"
triplet=x86_64-w64-mingw32
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"

if [ "$(id -u)" -ne 0 ]; then
  echo "Run this script as root (or with sudo)." >&2
  exit 2
fi

say() { printf '%s\n' "install-windows-deps: $*"; }

# --- Debian packages ---------------------------------------------------------

packages=(
  build-essential cmake ninja-build make pkg-config dpkg-dev xz-utils tcl
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 xvfb xauth fonts-wqy-microhei nsis
  googletest
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# --- Source packages -----------------------------------------------------------
# apt-get source needs deb-src entries. Where none is configured, mirror every
# configured Debian deb entry (deb822 .sources stanzas and one-line .list
# entries) as deb-src, in a file of our own.

mirror=/etc/apt/sources.list.d/veltora-deb-src.sources
configured_sources() {
  find /etc/apt/sources.list /etc/apt/sources.list.d -maxdepth 1 -type f \
    \( -name '*.list' -o -name '*.sources' -o -name sources.list \) ! -path "$mirror" 2>/dev/null
}
has_deb_src() {
  local f
  for f in $(configured_sources); do
    grep -qsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' "$f" && return 0
  done
  return 1
}
if ! has_deb_src; then
  tmp="$(mktemp)"
  for f in $(configured_sources); do
    case "$f" in
      *.sources)
        # One stanza per paragraph: keep those of type deb on a Debian archive.
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*(^|[ \t])deb([ \t]|\n|$)/ && /(^|\n)URIs:[^\n]*\/debian/ {
               sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >>"$tmp"
        ;;
      *)
        # "deb [options] URI suite components" -> a deb822 stanza.
        awk '$1 == "deb" {
               i = 2; opts = ""
               if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
               if ($i !~ /\/debian/) next
               comps = ""; for (k = i + 2; k <= NF; k++) comps = comps " " $k
               signed = ""
               if (match(opts, /signed-by=[^] ]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
               printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n", $i, $(i + 1), comps
               if (signed != "") printf "Signed-By: %s\n", signed
               printf "\n" }' "$f" >>"$tmp"
        ;;
    esac
  done
  if [ ! -s "$tmp" ]; then
    rm -f "$tmp"
    echo "No Debian deb entry is configured to mirror as deb-src." >&2
    exit 1
  fi
  install -m 0644 "$tmp" "$mirror"
  rm -f "$tmp"
  say "added $mirror"
  apt-get update -q
fi

source_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}
sqlite_version="$(source_version sqlite3)"
sevenzip_version="$(source_version 7zip)"
if [ -z "$sqlite_version" ] || [ -z "$sevenzip_version" ]; then
  apt-get update -q
  sqlite_version="$(source_version sqlite3)"
  sevenzip_version="$(source_version 7zip)"
fi
gtest_version="$(dpkg-query -W -f='${Version}' googletest)"

# Unpacks the Debian source of $1 at version $2 into a fresh folder and prints
# the unpacked tree's path.
fetch_source() {
  local work="$cache/src/$1-$2"
  rm -rf "$work"
  mkdir -p "$work"
  # apt downloads as its own user where that user may write.
  chown _apt "$work" 2>/dev/null || true
  (cd "$work" && apt-get source -q "$1=$2" >/dev/null)
  find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

stamp_dir="$prefix/share/veltora-deps"
mkdir -p "$prefix/include" "$prefix/lib" "$prefix/bin" "$stamp_dir" "$cache"
is_built() { [ "$(cat "$stamp_dir/$1" 2>/dev/null)" = "$2" ]; }
mark_built() { printf '%s\n' "$2" >"$stamp_dir/$1"; }

# --- SQLite: the amalgamation, compiled into a static MinGW library ------------

if ! is_built sqlite3 "$sqlite_version"; then
  start=$SECONDS
  tree="$(fetch_source sqlite3 "$sqlite_version")"
  build="$cache/build/sqlite3"
  rm -rf "$build"
  mkdir -p "$build"
  # The amalgamation is generated by the source tree's own tools (native).
  (cd "$build" && "$tree/configure" --disable-tcl >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
  # Thread-safe (one connection per thread), as Debian builds it.
  "$triplet-gcc-posix" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
    -c "$build/sqlite3.c" -o "$build/sqlite3.o"
  rm -f "$prefix/lib/libsqlite3.a"
  "$triplet-ar" rcs "$prefix/lib/libsqlite3.a" "$build/sqlite3.o"
  install -m 0644 "$build/sqlite3.h" "$build/sqlite3ext.h" "$prefix/include/"
  mark_built sqlite3 "$sqlite_version"
  rm -rf "$build" "$cache/src/sqlite3-$sqlite_version"
  say "SQLite $sqlite_version built in $((SECONDS - start)) s"
fi

# --- GoogleTest from /usr/src/googletest ----------------------------------------

if ! is_built googletest "$gtest_version"; then
  start=$SECONDS
  build="$cache/build/googletest"
  rm -rf "$build"
  cmake -S /usr/src/googletest -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELTORA_MINGW_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$build" -j "$jobs" >/dev/null
  cmake --install "$build" >/dev/null
  mark_built googletest "$gtest_version"
  rm -rf "$build"
  say "GoogleTest $gtest_version built in $((SECONDS - start)) s"
fi

# --- 7zr.exe: the 7z-only console archiver with AES ------------------------------

archiver_cache="$cache/7zip-$sevenzip_version/7zr.exe"
if [ ! -s "$archiver_cache" ]; then
  start=$SECONDS
  tree="$(fetch_source 7zip "$sevenzip_version")"
  # MSYSTEM selects the makefile's POSIX shell commands (rm -f, mkdir -p)
  # instead of those of cmd.exe.
  make -C "$tree/CPP/7zip/Bundles/Alone7z" -f makefile.gcc -j"$jobs" \
    IS_MINGW=1 MSYSTEM=MINGW64 \
    CC="$triplet-gcc-posix" CXX="$triplet-g++-posix" RC="$triplet-windres" >/dev/null
  mkdir -p "$(dirname "$archiver_cache")"
  install -m 0755 "$tree/CPP/7zip/Bundles/Alone7z/_o/7zr.exe" "$archiver_cache"
  rm -rf "$cache/src/7zip-$sevenzip_version"
  say "7zr.exe $sevenzip_version built in $((SECONDS - start)) s"
fi
if ! cmp -s "$archiver_cache" "$prefix/bin/7zr.exe"; then
  install -m 0755 "$archiver_cache" "$prefix/bin/7zr.exe"
fi

say "ready under $prefix (SQLite $sqlite_version, GoogleTest $gtest_version, 7-Zip $sevenzip_version)"
