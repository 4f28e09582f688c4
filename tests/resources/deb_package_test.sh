#!/usr/bin/env bash
# The .deb that CPack makes: the files of the /usr install and nothing more,
# no maintainer script (installing enables and starts nothing), and the
# packages the agent needs to run.
# Usage: deb_package_test.sh BUILD_DIR
set -euo pipefail
build_dir=$1

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    if [ "${VELTORA_TEST_DISALLOW_SKIP:-}" = 1 ]; then
      echo "FAIL: $tool is missing" >&2
      exit 1
    fi
    echo "SKIP: $tool is missing"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
debs=("$work"/*.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: no .deb in $work" >&2; exit 1; }
deb=${debs[0]}
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The regular files, with their modes: "-rwxr-xr-x ./usr/bin/veltora-cli".
files=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $1, $NF }' | sort)
expected=$(sort <<'EOF'
-rw-r--r-- ./usr/lib/systemd/system/veltora.service
-rw-r--r-- ./usr/share/doc/veltora/README.md
-rw-r--r-- ./usr/share/veltora/Setlog.dll
-rw-r--r-- ./usr/share/veltora/backup-folders.conf
-rwxr-xr-x ./usr/bin/veltora-cli
EOF
)
if [ "$files" != "$expected" ]; then
  fail "the package's files differ:"
  diff <(echo "$expected") <(echo "$files") >&2 || true
fi

# Nothing runs when the package is installed or removed.
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "the package has a $script script"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in 7zip systemd libsqlite3 libodbc; do
  grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "$(basename "$deb"): the install's files, no maintainer scripts, Depends: $depends"
