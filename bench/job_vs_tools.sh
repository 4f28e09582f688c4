#!/usr/bin/env bash
# The whole backup job for one large account set (level 1 with an archive
# password, copy to a Samba share on loopback) against the same work done with
# the tools a user would reach for, in one run. The job verifies what it made:
# it tests the archive with its password and reads the share's copy back
# before either takes its final name. So the tools do the same - `7zz a`,
# `7zz t`, `smbclient put`, `smbclient get` and `cmp` - and, for reference,
# without the checks (`7zz a` and `smbclient put` alone).
# Reports the ratios of median wall times and the peak memory of the job.
# Usage: bench/job_vs_tools.sh [SIZE_MIB] [BUILD_DIR]   (as root: it starts smbd)
set -euo pipefail
size_mib="${1:-1024}"
build="${2:-build/release}"
here="$(cd "$(dirname "$0")/.." && pwd)"
cli="$(realpath "$build/bin/veltora-cli")"
work="$(mktemp -d /tmp/veltora-bench-XXXXXX)"
port=$((45000 + $$ % 1000))
user=veltorabench
password='Bench#2026'
stop() { "$here/scripts/samba-test-server.sh" stop "$work/smb" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap stop EXIT
chmod 0755 "$work"  # the Samba account must reach the share folder inside
mkdir -p "$work/accounts" "$work/bak" "$work/app" "$work/tools"

echo "Making a ${size_mib} MiB account set (partly compressible)..."
head -c "$((size_mib * 1024 * 1024 * 3 / 4))" /dev/urandom | base64 -w 0 | head -c "$((size_mib * 1024 * 1024))" >"$work/accounts/Bench.AIS"

"$here/scripts/samba-test-server.sh" start "$work/smb" "$port" "$user" "$password"
share="$work/smb/share"

"$cli" --app-dir "$work/app" init >/dev/null
sqlite3 "$work/app/Setlog.dll" \
  "update bakset set softvernum=0, accountdir='$work/accounts', localdir='$work/bak', localbak=1,
     remotebak=1, remotedir='\\\\127.0.0.1\\bak', remoteuser='$user', remotepwd='$password',
     rarlevel='最快', rarpwd='$password', bakfilenum=0;
   insert into accountlist(accountid, accountname, dbname) values('', 'Bench.AIS', 'Bench.AIS');"

clean="rm -rf '$work'/bak/* '$work'/tools/* '$share'/*"
export VELTORA_SMB_PORT="$port"
smb="smbclient //127.0.0.1/bak -p $port -U '$user%$password'"
pack="7zz a -t7z -mx1 -mhe=on '-p$password' '$work/tools/Bench.7z' '$work/accounts/Bench.AIS' >/dev/null"
put="$smb -c 'put $work/tools/Bench.7z Bench.7z' >/dev/null"
check="7zz t '-p$password' '$work/tools/Bench.7z' >/dev/null"
readback="$smb -c 'get Bench.7z $work/tools/Back.7z' >/dev/null && cmp '$work/tools/Bench.7z' '$work/tools/Back.7z'"
hyperfine --runs 3 --export-json "$work/times.json" --prepare "$clean" \
  "$pack && $put" \
  "$pack && $check && $put && $readback" \
  "'$cli' --app-dir '$work/app' backup >/dev/null"

eval "$clean"
/usr/bin/time -v "$cli" --app-dir "$work/app" backup >/dev/null 2>"$work/time.txt"
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")

python3 - "$work/times.json" "$peak_kib" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
plain, verified, veltora = (r["median"] for r in runs)
print(f"tools, no checks (7zz a, put)                 median {plain:8.3f} s")
print(f"tools with checks (7zz a, t, put, get, cmp)   median {verified:8.3f} s")
print(f"veltora-cli backup (verifies both)            median {veltora:8.3f} s")
print(f"ratio veltora / tools with checks     {veltora / verified:8.3f}   (goal <= 1.10)")
print(f"ratio veltora / tools without checks  {veltora / plain:8.3f}")
print(f"peak memory of the job  {int(sys.argv[2]) / 1024:8.1f} MiB (goal < 64; the archiver runs as a child)")
PY
