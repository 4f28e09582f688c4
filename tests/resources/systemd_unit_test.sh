#!/usr/bin/env bash
# The agent's systemd unit as an admin meets it:
#   - its sandbox scores an exposure below 5.0 (systemd-analyze security), and
#     it stops only the agent, within a bound, and retries every failure but a
#     refused start;
#   - installed under /usr and under /usr/local, its paths name the installed
#     files and `systemd-analyze verify` has nothing to say about it, with the
#     example drop-in in place;
#   - its first-start step copies the prepared settings database owner-only and
#     never replaces what is already there.
# No running systemd is needed: verify runs against a throw-away root holding
# the install and the host's own units.
# Usage: systemd_unit_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
unit_source="$source_dir/resources/veltora.service"

if ! command -v systemd-analyze >/dev/null; then
  if [ "${VELTORA_TEST_DISALLOW_SKIP:-}" = 1 ]; then
    echo "FAIL: systemd-analyze is missing (Debian package systemd)" >&2
    exit 1
  fi
  echo "SKIP: systemd-analyze is missing (Debian package systemd)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- exposure --------------------------------------------------------------
exposure_of() {
  systemd-analyze security --offline=yes "$@" 2>&1 |
    sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\).*$/\1/p'
}
exposure=$(exposure_of "$unit_source")
if [ -z "$exposure" ] || ! awk -v e="$exposure" 'BEGIN { exit !(e < 5.0) }'; then
  fail "exposure of $unit_source is '${exposure}', not below 5.0"
  systemd-analyze security --offline=yes "$unit_source" >&2 || true
fi

# --- what stopping, restarting and the state folder rest on -----------------
# The exposure score does not see these: only the agent gets SIGTERM (it ends
# the running backup), a stop waits a bounded time, every failure but a
# refused start is retried, and the state folder is the application folder.
while IFS= read -r line; do
  grep -qxF "$line" "$unit_source" || fail "the unit lacks the line: $line"
done <<'EOF'
KillMode=mixed
KillSignal=SIGTERM
TimeoutStopSec=30min
Restart=on-failure
RestartPreventExitStatus=3
UMask=0077
StateDirectory=veltora
Environment=VELTORA_APP_DIR=/var/lib/veltora
ExecStart=/usr/bin/veltora-cli serve
NoNewPrivileges=yes
PrivateTmp=yes
ProtectSystem=strict
ProtectHome=read-only
EOF

# --- installed layout and verify ------------------------------------------
host_units=/usr/lib/systemd/system
for prefix in /usr /usr/local; do
  root="$work/root${prefix//\//-}"
  DESTDIR="$root" cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install --prefix $prefix"; continue; }
  unit="$root$prefix/lib/systemd/system/veltora.service"
  for f in "$prefix/bin/veltora-cli" "$prefix/share/veltora/Setlog.dll" \
    "$prefix/share/veltora/backup-folders.conf" "$prefix/share/doc/veltora/README.md" \
    "$prefix/lib/systemd/system/veltora.service"; do
    [ -f "$root$f" ] || fail "$prefix: $f is not installed"
  done
  [ -x "$root$prefix/bin/veltora-cli" ] || fail "$prefix: veltora-cli is not executable"
  [ -f "$unit" ] || continue
  grep -qx "ExecStart=$prefix/bin/veltora-cli serve" "$unit" ||
    fail "$prefix: ExecStart does not name the installed program: $(grep ^ExecStart= "$unit")"
  grep -q "cp $prefix/share/veltora/Setlog.dll " "$unit" ||
    fail "$prefix: the first-start copy does not name the installed database"

  # What verify needs of the host: its units (targets the unit is ordered
  # after) and the shell of the first-start step.
  mkdir -p "$root/usr/lib/systemd/system" "$root/usr/bin" \
    "$root/etc/systemd/system/veltora.service.d"
  cp -an "$host_units/." "$root/usr/lib/systemd/system/"
  ln -sfn usr/bin "$root/bin"
  cp /bin/sh "$root/usr/bin/sh"
  cp "$root$prefix/share/veltora/backup-folders.conf" \
    "$root/etc/systemd/system/veltora.service.d/backup-folders.conf"
  if ! out=$(systemd-analyze verify --root="$root" veltora.service 2>&1) || [ -n "$out" ]; then
    fail "$prefix: systemd-analyze verify is not clean:"
    echo "$out" >&2
  fi
  exposure=$(exposure_of --root="$root" veltora.service)
  if [ -z "$exposure" ] || ! awk -v e="$exposure" 'BEGIN { exit !(e < 5.0) }'; then
    fail "$prefix: exposure of the installed unit with its drop-in is '${exposure}'"
  fi
done

# --- the first-start copy --------------------------------------------------
# The unit's own ExecStartPre command, its folders moved into the work folder.
state="$work/state"
share="$work/share"
mkdir -p "$state" "$share"
printf 'prepared' >"$share/Setlog.dll"
chmod 0644 "$share/Setlog.dll"
step=$(sed -n "s/^ExecStartPre=\/bin\/sh -c '\(.*\)'$/\1/p" "$unit_source")
[ -n "$step" ] || fail "no ExecStartPre=/bin/sh -c '...' line in the unit"
step=${step//\/var\/lib\/veltora/$state}
step=${step//\/usr\/share\/veltora/$share}
run_step() { (umask 0077 && /bin/sh -c "$step"); }

run_step || fail "first start: the copy failed"
[ "$(cat "$state/Setlog.dll" 2>/dev/null)" = prepared ] || fail "first start: no copy"
[ "$(stat -c %a "$state/Setlog.dll" 2>/dev/null)" = 600 ] ||
  fail "first start: the copy is not owner-only: $(stat -c %a "$state/Setlog.dll")"

printf 'settings of the user' >"$state/Setlog.dll"
run_step || fail "later start: the step failed"
[ "$(cat "$state/Setlog.dll")" = "settings of the user" ] || fail "later start: the database was replaced"

rm "$state/Setlog.dll"
ln -s "$work/elsewhere" "$state/Setlog.dll"
run_step || fail "dangling link: the step failed"
[ ! -e "$work/elsewhere" ] || fail "dangling link: the copy was written through the link"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "the unit is sandboxed, verifies clean where it is installed, and keeps existing settings"
