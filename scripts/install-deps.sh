#!/usr/bin/env bash
# Installs everything Veltora needs to build, test and run on Debian 12, as root.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format
  libsqlite3-dev sqlite3
  unixodbc unixodbc-dev tdsodbc libsqliteodbc
  googletest libgtest-dev libgmock-dev
  time hyperfine faketime
  7zip
  libsmbclient-dev samba smbclient
  systemd dpkg-dev  # systemd-analyze checks the agent's unit; dpkg-shlibdeps for the .deb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; run this script as root (or with sudo)." >&2
    exit 2
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The ODBC drivers register themselves with unixODBC when their packages are
# configured; make sure of it, since the client's tests reach SQLite through it.
if ! odbcinst -q -d 2>/dev/null | grep -q '^\[SQLite3\]'; then
  odbcinst -i -d -f /usr/share/sqliteodbc/unixodbc.ini >/dev/null 2>&1 || true
fi
