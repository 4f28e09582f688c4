#!/usr/bin/env bash
# Fresh machine to a demonstration run: install, build, then back up a generated
# sample of both kinds of account sets, compress them with a password, copy them
# to a Samba share on loopback (a local folder where smbd cannot run), and print
# the run log and the backup table.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
demo_dir="${1:-$(mktemp -d /tmp/veltora-demo-XXXXXX)}"

smb_dir="$(mktemp -d /tmp/veltora-demo-smb-XXXXXX)"
chmod 0755 "$smb_dir"
stop_share() { scripts/samba-test-server.sh stop "$smb_dir" >/dev/null 2>&1 || true; rm -rf "$smb_dir"; }
trap stop_share EXIT
port=$((46000 + $$ % 1000))
if [ "$(id -u)" -eq 0 ] && command -v smbd >/dev/null &&
   scripts/samba-test-server.sh start "$smb_dir" "$port" veltorademo 'Share&Pass1' >/dev/null 2>&1; then
  export VELTORA_SMB_PORT="$port" VELTORA_DEMO_SHARE='\\127.0.0.1\bak'
  export VELTORA_DEMO_SHARE_USER=veltorademo VELTORA_DEMO_SHARE_PASSWORD='Share&Pass1'
else
  echo "(smbd cannot run here: the demo copies to a local folder instead)"
fi
build/release/bin/veltora-cli demo "$demo_dir"
if [ -n "${VELTORA_DEMO_SHARE:-}" ]; then
  echo; echo "== 远程共享文件夹 $VELTORA_DEMO_SHARE 中的文件 =="
  ls -1 "$smb_dir/share" | sed 's/^/  /'
fi
