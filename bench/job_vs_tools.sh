#!/usr/bin/env bash
# The whole backup job for one large account set (level 1 with an archive
# password, copy to a Samba share on loopback) against the same work done with
# the tools a user would reach for: `7zz a` and then `smbclient put`, in one run.
# Reports the ratio of median wall times and the peak memory of the job.
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
hyperfine --runs 3 --export-json "$work/times.json" --prepare "$clean" \
  "7zz a -t7z -mx1 -mhe=on '-p$password' '$work/tools/Bench.7z' '$work/accounts/Bench.AIS' >/dev/null && smbclient //127.0.0.1/bak -p $port -U '$user%$password' -c 'put $work/tools/Bench.7z Bench.7z' >/dev/null" \
  "'$cli' --app-dir '$work/app' backup >/dev/null"

eval "$clean"
/usr/bin/time -v "$cli" --app-dir "$work/app" backup >/dev/null 2>"$work/time.txt"
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")

python3 - "$work/times.json" "$peak_kib" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
tools, veltora = runs[0]["median"], runs[1]["median"]
print(f"7zz + smbclient median  {tools:8.3f} s")
print(f"veltora-cli median      {veltora:8.3f} s")
print(f"ratio veltora/tools     {veltora / tools:8.3f}   (goal <= 1.10)")
print(f"peak memory of the job  {int(sys.argv[2]) / 1024:8.1f} MiB (goal < 64; the archiver runs as a child)")
PY
