#!/usr/bin/env bash
# The agent's idle cost: CPU time and peak memory of `veltora-cli serve` over
# one minute with no backup due (configured, the last backup started just now,
# the next one tomorrow), against the goals: under 0.1 % of one core and under
# 16 MiB. CPU time is the scheduler's own account of every thread of the agent
# (/proc/PID/task/*/schedstat, nanoseconds) from the end of start-up to the end
# of the minute; the whole life, start-up and stop included, as /usr/bin/time
# reports it, is shown beside it.
# Usage: bench/agent_idle.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
seconds="${1:-60}"
build="${2:-build/release}"
cli="$(realpath "$build/bin/veltora-cli")"
work="$(mktemp -d /tmp/veltora-bench-XXXXXX)"
agent=""
trap '[ -n "$agent" ] && kill -KILL "$agent" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/accounts" "$work/bak" "$work/app"
printf 'ledger' >"$work/accounts/Bench.AIS"

"$cli" --app-dir "$work/app" init >/dev/null
sqlite3 "$work/app/Setlog.dll" \
  "update bakset set softvernum=0, accountdir='$work/accounts', localdir='$work/bak', localbak=1,
     remotebak=0, rarlevel='不压缩', bakfilenum=0, btwdays=1, safecheck=0,
     baktime=strftime('%H:%M:%S', 'now', 'localtime', '-1 minutes'),
     lastbakday=strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime');
   insert into accountlist(accountid, accountname, dbname) values('', 'Bench.AIS', 'Bench.AIS');"

cpu_ns() {
  local total=0 t
  for t in /proc/"$1"/task/*/schedstat; do
    total=$((total + $(cut -d' ' -f1 "$t")))
  done
  echo "$total"
}

/usr/bin/time -f '%U %S %M' -o "$work/time.txt" \
  "$cli" --app-dir "$work/app" serve 2>"$work/err.txt" &
timer=$!
for _ in $(seq 100); do
  agent="$(pgrep -P "$timer" || true)"
  [ -n "$agent" ] && grep -q '程序启动成功！' "$work/app/程序运行日志.txt" 2>/dev/null && break
  sleep 0.1
done
[ -n "$agent" ] || { echo "the agent did not start" >&2; cat "$work/err.txt" >&2; exit 1; }

start_ns="$(cpu_ns "$agent")"
start_wall="$(date +%s.%N)"
sleep "$seconds"
end_ns="$(cpu_ns "$agent")"
end_wall="$(date +%s.%N)"
peak_kib="$(awk '/^VmHWM:/ {print $2}' "/proc/$agent/status")"
# What the resident set is made of: the agent's own memory (anonymous, and
# private dirty pages) against pages of the shared libraries it maps.
anon_kib="$(awk '/^RssAnon:/ {print $2}' "/proc/$agent/status")"
file_kib="$(awk '/^RssFile:/ {print $2}' "/proc/$agent/status")"
private_kib="$(awk '/^Private_Dirty:/ {print $2}' "/proc/$agent/smaps_rollup")"
kill -TERM "$agent"
wait "$timer"
agent=""
backups="$(find "$work/bak" -type f | wc -l)"

python3 - "$start_ns" "$end_ns" "$start_wall" "$end_wall" "$peak_kib" "$backups" \
  "$(cat "$work/time.txt")" "$anon_kib" "$file_kib" "$private_kib" <<'PY'
import sys
start, end = int(sys.argv[1]), int(sys.argv[2])
wall = float(sys.argv[4]) - float(sys.argv[3])
peak = int(sys.argv[5]) / 1024
backups = int(sys.argv[6])
user, system, life_peak = sys.argv[7].split()
anon, mapped, private = (int(v) / 1024 for v in sys.argv[8:11])
cpu = (end - start) / 1e9
share = cpu / wall * 100
print(f"idle for            {wall:8.1f} s   (backups made: {backups}, expected 0)")
print(f"CPU time idle       {cpu * 1000:8.3f} ms  = {share:.4f} % of one core (goal < 0.1 %,"
      f" ratio {share / 0.1:.3f})")
print(f"peak memory (VmHWM) {peak:8.1f} MiB (goal < 16 MiB, ratio {peak / 16:.3f})")
print(f"  of which           {anon:5.1f} MiB anonymous, {mapped:.1f} MiB pages of mapped files"
      f" (the executable and its shared libraries); {private:.1f} MiB private dirty")
print(f"whole life          {float(user) + float(system):8.2f} s CPU (user {user} s, system {system} s),"
      f" peak {int(life_peak) / 1024:.1f} MiB, start-up and stop included")
PY
