#!/usr/bin/env bash
# Starts or stops a private PostgreSQL server for the tests, listening only on
# a Unix socket in its own folder. "start DIR" prints the libpq environment
# (PGHOST, PGPORT, PGUSER) to source; "stop DIR" ends it and removes DIR.
# "restart DIR" restarts it (its sessions are cut) and "halt DIR" stops it
# keeping its data, for "start DIR" to start it again. Stopping a server also
# stops the servers started in subfolders of its folder.
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
port=${TRELLANE_PG_PORT:-55432}
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
run() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$cmd" in
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
