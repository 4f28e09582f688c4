#!/bin/sh
# A throw-away Samba server for the tests: the share "bak" at DIR/share (and
# "locked", which USER may not use), on
# 127.0.0.1:PORT only, with its own configuration, databases and logs under DIR.
#
#   samba-test-server.sh start DIR PORT USER PASSWORD
#   samba-test-server.sh stop DIR
#   samba-test-server.sh signal DIR STOP|CONT|KILL
#
# start creates the local account USER (no home, no shell) when it is missing,
# gives it the Samba password PASSWORD, starts smbd and waits until the port
# answers; a server already running from DIR is left as it is. stop ends the
# server started from DIR. signal sends the signal to every process serving
# DIR (the tests freeze, thaw and kill the server with it; after KILL it waits
# until they are gone, and start brings the server back on the same folder).
# All are quiet unless something fails. Needs root (useradd, pdbedit) and
# Debian's samba package.
set -eu

usage() {
  echo "usage: $0 start DIR PORT USER PASSWORD | stop DIR | signal DIR STOP|CONT|KILL" >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
dir=$2
pidfile=$dir/smbd.pid

# A killed server that nobody has reaped yet is a zombie: it answers kill -0
# but has no command line any more.
running() {
  [ -f "$pidfile" ] && [ -n "$({ tr -d '\0' <"/proc/$(cat "$pidfile")/cmdline"; } 2>/dev/null)" ]
}

port_answers() {
  # Whether something accepts connections on the loopback port.
  if command -v nc >/dev/null 2>&1; then
    nc -z 127.0.0.1 "$1" >/dev/null 2>&1
  else
    bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" >/dev/null 2>&1
  fi
}

# The pids of every process serving DIR's configuration: smbd, and the RPC
# helpers (samba-dcerpcd, rpcd_*) it starts on demand, which detach from it.
server_pids() {
  for p in /proc/[0-9]*; do
    # A process may end between the listing and the read.
    cmd=$({ tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null) || continue
    case $cmd in
    *"$dir/smb.conf"*) echo "${p#/proc/}" ;;
    esac
  done
}

case $action in
signal)
  [ $# -eq 3 ] || usage
  case $3 in STOP | CONT | KILL) ;; *) usage ;; esac
  dir=$(cd "$dir" && pwd)
  pids=$(server_pids)
  [ -n "$pids" ] || exit 1
  # shellcheck disable=SC2086
  kill -s "$3" $pids
  if [ "$3" = KILL ]; then
    i=0
    while [ -n "$(server_pids)" ]; do
      [ $i -lt 100 ] || exit 1
      sleep 0.1
      i=$((i + 1))
    done
  fi
  exit 0
  ;;
stop)
  [ -d "$dir" ] || exit 0
  dir=$(cd "$dir" && pwd)
  pidfile=$dir/smbd.pid
  pids=$(server_pids)
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086
    kill $pids 2>/dev/null || true
    i=0
    while [ $i -lt 50 ] && [ -n "$(server_pids)" ]; do
      sleep 0.1
      i=$((i + 1))
    done
    pids=$(server_pids)
    # shellcheck disable=SC2086
    [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
  fi
  rm -f "$pidfile"
  exit 0
  ;;
start)
  [ $# -eq 5 ] || usage
  port=$3
  user=$4
  password=$5
  ;;
*)
  usage
  ;;
esac

smbd=$(command -v smbd || echo /usr/sbin/smbd)
if [ ! -x "$smbd" ] || ! command -v pdbedit >/dev/null 2>&1; then
  echo "samba not installed (smbd, pdbedit)" >&2
  exit 3
fi

if running; then exit 0; fi

mkdir -p "$dir/share" "$dir/locked" "$dir/private" "$dir/lock" "$dir/state" "$dir/cache" "$dir/log" \
  "$dir/ncalrpc"
chmod 0777 "$dir/share"
dir=$(cd "$dir" && pwd)
pidfile=$dir/smbd.pid

if ! id -u "$user" >/dev/null 2>&1; then
  # Another test binary may be adding the same account at this moment.
  useradd -M -s /usr/sbin/nologin "$user" 2>/dev/null || id -u "$user" >/dev/null
fi

cat >"$dir/smb.conf" <<EOF
[global]
  workgroup = VELTORATEST
  server role = standalone server
  interfaces = lo 127.0.0.1
  bind interfaces only = yes
  smb ports = $port
  disable netbios = yes
  server min protocol = SMB2
  map to guest = never
  restrict anonymous = 2
  passdb backend = tdbsam:$dir/private/passdb.tdb
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir
  ncalrpc dir = $dir/ncalrpc
  log file = $dir/log/smbd.log
  max log size = 1000
  logging = file
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  store dos attributes = yes
  kernel oplocks = no
  ea support = yes

[bak]
  path = $dir/share
  read only = no
  browseable = yes
  valid users = $user
  create mask = 0666
  directory mask = 0777

# A share the test account may not use: its refusal comes after a good logon.
[locked]
  path = $dir/locked
  read only = no
  valid users = root
EOF

# The password goes through stdin, never the command line.
printf '%s\n%s\n' "$password" "$password" |
  pdbedit -s "$dir/smb.conf" -a -t -u "$user" >/dev/null 2>&1 ||
  printf '%s\n%s\n' "$password" "$password" |
  smbpasswd -c "$dir/smb.conf" -s -a "$user" >/dev/null

setsid "$smbd" --foreground --no-process-group -s "$dir/smb.conf" \
  </dev/null >>"$dir/log/console.log" 2>&1 &
echo $! >"$pidfile"

i=0
while ! port_answers "$port"; do
  if ! running || [ $i -ge 100 ]; then
    echo "smbd did not start on port $port; see $dir/log" >&2
    "$0" stop "$dir"
    exit 1
  fi
  sleep 0.1
  i=$((i + 1))
done
exit 0
