#!/usr/bin/env bash
# Restoring one large account set from its password-protected archive against
# the same work done with the tools a user would reach for, in one run. The
# restore extracts the ledger and checks it against the SHA-256 recorded at
# backup time before the file takes its name; so the tools extract it with
# `7zz x` and digest it with `sha256sum`. Each round restores into a fresh
# folder, as a restore never overwrites. The archive comes from one real
# `veltora-cli backup` (level 1 with an archive password, local folder only),
# so both sides read the very same file.
# Reports the ratio of median wall times and the peak memory of the restore.
# Usage: bench/restore_vs_tools.sh [SIZE_MIB] [BUILD_DIR]
set -euo pipefail
size_mib="${1:-1024}"
build="${2:-build/release}"
cli="$(realpath "$build/bin/veltora-cli")"
work="$(mktemp -d /tmp/veltora-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
password='Bench#2026'
mkdir -p "$work/accounts" "$work/bak" "$work/app"

echo "Making a ${size_mib} MiB account set (partly compressible)..."
head -c "$((size_mib * 1024 * 1024 * 3 / 4))" /dev/urandom | base64 -w 0 | head -c "$((size_mib * 1024 * 1024))" >"$work/accounts/Bench.AIS"

"$cli" --app-dir "$work/app" init >/dev/null
sqlite3 "$work/app/Setlog.dll" \
  "update bakset set softvernum=0, accountdir='$work/accounts', localdir='$work/bak', localbak=1,
     remotebak=0, rarlevel='最快', rarpwd='$password', bakfilenum=0;
   insert into accountlist(accountid, accountname, dbname) values('', 'Bench.AIS', 'Bench.AIS');"

echo "Backing it up once..."
"$cli" --app-dir "$work/app" backup >"$work/backup.txt" 2>&1 || { cat "$work/backup.txt" >&2; exit 1; }
archive="$(find "$work/bak" -maxdepth 1 -name 'Bench*.7z' -print -quit)"
[ -n "$archive" ] || { echo "the backup made no archive" >&2; exit 1; }
content="$(basename "$archive" .7z).bak"  # what the archive holds
echo "archive: $(du -m "$archive" | cut -f1) MiB"

fresh="rm -rf '$work/out' '$work/tools' && mkdir '$work/out' '$work/tools'"
tools="7zz x '-p$password' '-o$work/tools' '$archive' >/dev/null && sha256sum '$work/tools/$content' >/dev/null"
restore="'$cli' --app-dir '$work/app' restore Bench --to '$work/out' >/dev/null"
hyperfine --runs 3 --export-json "$work/times.json" --prepare "$fresh" \
  "$tools" "$restore"

# The restored ledger is the one that was backed up, or the times mean nothing.
eval "$fresh"
/usr/bin/time -v "$cli" --app-dir "$work/app" restore Bench --to "$work/out" >/dev/null 2>"$work/time.txt"
cmp "$work/accounts/Bench.AIS" "$work/out/Bench.AIS"
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")

python3 - "$work/times.json" "$peak_kib" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
tools, veltora = (r["median"] for r in runs)
ratio = veltora / tools
print(f"tools (7zz x, sha256sum)                  median {tools:8.3f} s")
print(f"veltora-cli restore (extract, digest)     median {veltora:8.3f} s")
print(f"ratio veltora / tools  {ratio:8.3f}   goal <= 1.10: {'met' if ratio <= 1.10 else 'NOT met'}")
print(f"peak memory of the restore  {int(sys.argv[2]) / 1024:8.1f} MiB (the archiver runs as a child)")
PY
