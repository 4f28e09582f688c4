#!/usr/bin/env bash
# Backing up one large .AIS file with compression off, against `cp` of the same
# file (and against `cp` followed by `sync` of the copy, since the backup is
# flushed before it counts), in one run: the ratios of median wall times and
# the peak memory of `veltora-cli backup`. Usage: bench/backup_vs_cp.sh [SIZE_MIB] [BUILD_DIR]
set -euo pipefail
size_mib="${1:-1024}"
build="${2:-build/release}"
cli="$(realpath "$build/bin/veltora-cli")"
work="$(mktemp -d /tmp/veltora-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/accounts" "$work/bak" "$work/app" "$work/cp"

echo "Making a ${size_mib} MiB account set..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/accounts/Bench.AIS"

"$cli" --app-dir "$work/app" init >/dev/null
sqlite3 "$work/app/Setlog.dll" \
  "update bakset set softvernum=0, accountdir='$work/accounts', localdir='$work/bak', localbak=1, remotebak=0, rarlevel='不压缩', bakfilenum=0;
   insert into accountlist(accountid, accountname, dbname) values('', 'Bench.AIS', 'Bench.AIS');"

hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  --prepare "rm -f '$work'/bak/* '$work'/cp/*" \
  "cp '$work/accounts/Bench.AIS' '$work/cp/Bench.bak'" \
  "cp '$work/accounts/Bench.AIS' '$work/cp/Bench.bak' && sync '$work/cp/Bench.bak'" \
  "'$cli' --app-dir '$work/app' backup >/dev/null"

rm -f "$work"/bak/*
/usr/bin/time -v "$cli" --app-dir "$work/app" backup >/dev/null 2>"$work/time.txt"
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")

python3 - "$work/times.json" "$peak_kib" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
cp, cpsync, veltora = (r["median"] for r in runs)
peak = int(sys.argv[2]) / 1024
print(f"cp median           {cp:8.3f} s")
print(f"cp + sync median    {cpsync:8.3f} s   (the backup is flushed to disk before it counts)")
print(f"veltora-cli median  {veltora:8.3f} s")
print(f"ratio veltora/cp    {veltora / cp:8.3f}   (goal <= 1.10)")
print(f"ratio veltora/(cp+sync) {veltora / cpsync:8.3f}")
print(f"peak memory         {peak:8.1f} MiB (goal < 64)")
PY
