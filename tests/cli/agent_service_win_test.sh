#!/usr/bin/env bash
# The agent as a Windows service under Wine's service control manager, in a
# Wine prefix made for this run alone and removed after it (services are
# machine-wide: the build's shared prefix must never hold one):
#   agent_service_win_test.sh SOURCE_DIR BIN_DIR WORK_DIR
# install -> not running; a start while a console agent holds the folder ->
# RUNNING, the service waits, says so once, and takes over when the agent
# ends; the backup time set to the next minute -> the backup starts; a stop during it waits for it (stop
# pending, rising checkpoint) -> a new archive, the run's lines, then the stop
# lines and STOPPED; uninstall -> gone.
set -euo pipefail

source_dir=$1
bin=$2
work=$3
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work/app" "$work/accounts" "$work/backups"

windows() { printf 'Z:%s' "${1//\//\\}"; }
app=$(windows "$work/app")
wine_run() { "$source_dir/scripts/wine-run.sh" "$prefix" "$@"; }
# Output goes through a file: a program may start Wine's own processes, which
# inherit its output and outlive it, and a pipe would wait for them.
cli() { wine_run "$bin/veltora-cli.exe" --app-dir "$app" "$@" >"$work/out" 2>&1; }
run_log() { iconv -f GBK -t UTF-8 "$work/app/程序运行日志.txt" 2>/dev/null || true; }
logged() { run_log | grep -qF -- "$1"; }

console_agent=
cleanup() {
  [ -z "$console_agent" ] || kill "$console_agent" 2>/dev/null || true
  # Leaves no service behind should a step have failed, and ends the prefix's
  # server with everything it runs, then the prefix itself.
  cli service uninstall >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix" "$prefix.lock" "$prefix-share"
}
trap cleanup EXIT
# A test stopped from outside (CTest's time-out) cleans up too.
trap 'exit 1' TERM INT

fail() {
  echo "FAIL: $*"
  echo "--- run log:"
  run_log
  exit 1
}

# Runs the command line, expecting exit code $1 and output containing $2.
expect() {
  local code=$1 text=$2 out rc=0
  shift 2
  cli "$@" || rc=$?
  out=$(<"$work/out")
  echo "$(date +%T) veltora-cli $* -> $rc: $out"
  [ "$rc" = "$code" ] || fail "veltora-cli $* exited $rc, not $code"
  [[ "$out" == *"$text"* ]] || fail "veltora-cli $* did not say: $text"
}

sc_state() {
  wine_run sc query VeltoraBackup >"$work/out" 2>/dev/null || true
  tr -d '\r' <"$work/out" | awk '/STATE/ {print $4}'
}

# Waits up to $1 seconds for the command $2... to succeed.
wait_for() {
  local limit=$1
  shift
  for ((i = 0; i < limit * 2; i++)); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}

# Random bytes at the best compression: a backup of some seconds, long enough
# to stop the service in the middle of it.
head -c $((24 << 20)) /dev/urandom >"$work/accounts/总账.AIS"
# No settings database yet: a service there would fail at every start.
expect 1 "此目录中没有设置数据库" service install
expect 0 "" init
# One server for the whole run: Wine's service manager starts automatic
# services each time it starts with a new server, which would start the
# service behind the test's back.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
WINEPREFIX=$prefix wineserver -p </dev/null >/dev/null 2>&1
expect 0 "设置已保存" settings set softvernum=0 "accountdir=$(windows "$work/accounts")" \
  "localdir=$(windows "$work/backups")" localuser=backup localpwd=secret rarlevel=最好 \
  baktime=03:00:00 --tick 总账.AIS

expect 0 "服务已安装" service install
expect 3 "停止，应用程序目录：$app" service status
[ "$(sc_state)" = STOPPED ] || fail "sc query: $(sc_state), not STOPPED"

# A console agent holds the folder: the service counts as running, says once
# in the run log that it waits, and serves the folder once the agent has ended.
# Started as the script itself, which becomes the program, so that its
# process id is the agent's.
"$source_dir/scripts/wine-run.sh" "$prefix" "$bin/veltora-cli.exe" --app-dir "$app" serve \
  >/dev/null 2>&1 &
console_agent=$!
wait_for 30 logged "程序启动成功！" || fail "the console agent did not start"
expect 0 "服务已启动，状态：运行中" service start
wait_for 10 logged "服务等它退出后接管" || fail "the waiting service does not say so"
started() { [ "$(run_log | grep -cF "程序启动成功！")" -ge "$1" ]; }
sleep 6
started 2 && fail "the service started beside the console agent"
[ "$(run_log | grep -cF "服务等它退出后接管")" = 1 ] || fail "the wait is said more than once"
kill "$console_agent"
wait "$console_agent" 2>/dev/null || true
console_agent=
wait_for 30 started 2 || fail "the service did not take the folder over"

# The backup time: the next minute boundary at least 15 s away, so that the
# service is up before it.
now=$(date +%s)
due=$(((now / 60 + 1) * 60))
[ $((due - now)) -ge 15 ] || due=$((due + 60))
expect 0 "设置已保存" settings set "baktime=$(date -d "@$due" +%H:%M:%S)"

expect 0 "运行中，应用程序目录：$app" service status
[ "$(sc_state)" = RUNNING ] || fail "sc query: $(sc_state), not RUNNING"

# The stop comes while the backup runs: the agent refuses to end under it,
# the service stays stopping with a rising checkpoint (so that the manager
# keeps waiting), and once the backup has ended the stop lines follow.
wait_for $((due - $(date +%s) + 60)) logged "备份线程开始执行备份操作！" ||
  fail "the backup did not start at its minute"
wine_run sc stop VeltoraBackup >/dev/null 2>&1 || fail "sc stop was refused"
wait_for 10 logged "操作系统试图退出，但数据库备份线程正在运行，禁止退出！" ||
  fail "the stop was not refused under the running backup"
checkpoint() {
  wine_run sc query VeltoraBackup >"$work/out" 2>/dev/null || true
  printf '%d' "$(tr -d '\r' <"$work/out" | awk '/CHECKPOINT/ {print $3}')"
}
[ "$(sc_state)" = STOP_PENDING ] || fail "sc query: $(sc_state), not STOP_PENDING"
first=$(checkpoint)
sleep 1.5
logged "备份线程成功执行了备份操作！" && fail "the backup ended too soon to see the stop wait"
[ "$(checkpoint)" -gt "$first" ] || fail "the checkpoint of the pending stop does not rise"

expect 0 "服务已停止" service stop
logged "备份线程成功执行了备份操作！" || fail "the run's lines are not in the run log"
ls "$work/backups"
[ -n "$(ls -A "$work/backups")" ] || fail "no archive in the backup folder"
line_of() { run_log | grep -nF -- "$1" | tail -1 | cut -d: -f1; }
[ "$(line_of "程序停止成功！")" -gt "$(line_of "备份线程成功执行了备份操作！")" ] ||
  fail "the stop lines do not follow the backup"
expect 3 "停止" service status
[ "$(sc_state)" = STOPPED ] || fail "sc query: $(sc_state), not STOPPED"
for line in "由于系统退出，程序被迫关闭！" "程序停止成功！" "解除进程保护成功！"; do
  logged "$line" || fail "the stop line is not in the run log: $line"
done

expect 0 "服务已删除" service uninstall
expect 3 "未安装" service status
[ -z "$(sc_state)" ] || fail "sc query still finds the service"
echo "PASS"
