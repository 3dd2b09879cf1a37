#!/usr/bin/env bash
# Checks a ledger-mingw prefix under Wine: SQLite file round trip, OpenSSL SHA-256, and libpq
# against a throwaway local PostgreSQL 15 (127.0.0.1 only, ssl=on, self-signed certificate),
# once with sslmode=require and once with sslmode=disable. Cleans up everything it made.
#   scripts/ledger-mingw/verify.sh PREFIX_DIR|TARBALL     (as root: it adds and removes a system user)
set -euo pipefail
recipe=$(cd "$(dirname "$0")" && pwd)
arg=${1:?usage: verify.sh PREFIX_DIR|ledger-mingw-*.tar.xz}
export DEBIAN_FRONTEND=noninteractive
for p in postgresql-15 wine64 gcc-mingw-w64-x86-64-posix; do
    dpkg -s "$p" >/dev/null 2>&1 || apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
tmp=$(mktemp -d /tmp/ledger-check.XXXXXX)
user=ledgerchk$$
pgbin=/usr/lib/postgresql/15/bin
cleanup() {
    set +e
    [ -f "$tmp/pg/data/postmaster.pid" ] && runuser -u "$user" -- "$pgbin/pg_ctl" -D "$tmp/pg/data" -m fast -w stop >/dev/null
    [ -d "$tmp/wine" ] && WINEPREFIX="$tmp/wine" wineserver -k 2>/dev/null
    id "$user" >/dev/null 2>&1 && userdel "$user"
    rm -rf "$tmp"
}
trap cleanup EXIT
if [ -d "$arg" ]; then prefix=$(cd "$arg" && pwd); else tar -xJf "$arg" -C "$tmp"; prefix=$tmp/ledger-mingw; fi

# Windows side: the test program with the prefix's DLLs beside it.
mkdir -p "$tmp/run"
x86_64-w64-mingw32-gcc -O2 -Wall -I"$prefix/include" "$recipe/ledger-check.c" -o "$tmp/run/ledger-check.exe" \
    -L"$prefix/lib" -lpq -lssl -lcrypto -lsqlite3
cp "$prefix"/bin/*.dll "$tmp/run/"

# Server side: an unprivileged throwaway user owns a fresh cluster in $tmp/pg.
useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
mkdir -p "$tmp/pg" && chown "$user" "$tmp/pg" && chmod 755 "$tmp"
pw=$(openssl rand -hex 16)
echo "$pw" > "$tmp/pg/pw" && chown "$user" "$tmp/pg/pw"
runuser -u "$user" -- "$pgbin/initdb" -D "$tmp/pg/data" -U ledger --pwfile="$tmp/pg/pw" \
    --auth=scram-sha-256 -E UTF8 --locale=C >/dev/null
runuser -u "$user" -- openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
    -keyout "$tmp/pg/data/server.key" -out "$tmp/pg/data/server.crt" 2>/dev/null
chmod 600 "$tmp/pg/data/server.key"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >> "$tmp/pg/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
ssl = on
unix_socket_directories = ''
CONF
runuser -u "$user" -- "$pgbin/pg_ctl" -D "$tmp/pg/data" -l "$tmp/pg/log" -w start >/dev/null

export WINEPREFIX="$tmp/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$tmp/run"
wine ledger-check.exe test.db "host=127.0.0.1 port=$port dbname=postgres user=ledger password=$pw"
