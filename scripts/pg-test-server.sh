#!/usr/bin/env bash
# Starts or stops a private PostgreSQL server for the tests, listening only on
# a Unix socket in its own folder. "start DIR" prints the libpq environment
# (PGHOST, PGPORT, PGUSER) to source; "stop DIR" ends it and removes DIR.
# "restart DIR" restarts it (its sessions are cut) and "halt DIR" stops it
# keeping its data, for "start DIR" to start it again. Stopping a server also
# stops the servers started in subfolders of its folder.
# "start-tls DIR" starts a server that also listens on 127.0.0.1 (port
# TRELLANE_PG_PORT) and takes TCP connections over TLS only: it makes a
# private certificate authority with openssl (DIR/ca.crt) and a server
# certificate it signed for localhost and 127.0.0.1, and a second authority
# that signed nothing of this server (DIR/other-ca.crt).
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
port=${TRELLANE_PG_PORT:-55432}
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
run() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
certificates() {
  local d=$1
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Trellane test CA" \
    -keyout "$d/ca.key" -out "$d/ca.crt" 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Another test CA" \
    -keyout "$d/other-ca.key" -out "$d/other-ca.crt" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$d/server.key" -out "$d/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >"$d/server.ext"
  openssl x509 -req -in "$d/server.csr" -CA "$d/ca.crt" -CAkey "$d/ca.key" -CAcreateserial -days 2 \
    -extfile "$d/server.ext" -out "$d/server.crt" 2>/dev/null
  chmod 600 "$d/server.key"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$d/server.key" "$d/server.crt"
  return 0
}
case "$cmd" in
start-tls)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
  certificates "$dir"
  run "$bindir/initdb" -D "$dir/data" -U postgres -A trust >"$dir/initdb.log" 2>&1
  # TCP only over TLS; the socket in DIR stays for the administrator's use.
  printf 'local all all trust\nhostssl all all 127.0.0.1/32 trust\nhostnossl all all 0.0.0.0/0 reject\n' >"$dir/data/pg_hba.conf"
  run "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -p $port -c listen_addresses=127.0.0.1 -c ssl=on -c ssl_cert_file=$dir/server.crt -c ssl_key_file=$dir/server.key -c fsync=off" start >/dev/null
  echo "export TRELLANE_TLS_PORT=$port TRELLANE_TLS_CA=$dir/ca.crt TRELLANE_TLS_OTHER_CA=$dir/other-ca.crt"
  ;;
start)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    run "$bindir/initdb" -D "$dir/data" -U postgres -A trust >"$dir/initdb.log" 2>&1
  fi
  run "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null
  echo "export PGHOST=$dir PGPORT=$port PGUSER=postgres"
  ;;
restart)
  run "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w -t 60 restart >/dev/null
  ;;
halt)
  run "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  ;;
stop)
  # Servers that tests started in folders of this one (and left running if
  # they crashed) go with it.
  for sub in "$dir"/*/data; do
    [ -f "$sub/postmaster.pid" ] && run "$bindir/pg_ctl" -D "$sub" -m immediate -w stop >/dev/null 2>&1 || true
  done
  [ -f "$dir/data/postmaster.pid" ] && run "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
  rm -rf "$dir"
  ;;
esac
