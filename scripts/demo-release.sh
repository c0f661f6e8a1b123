#!/usr/bin/env bash
# Prepares what the console's built-in defaults expect besides the databases:
#   - the release share <DATA_DIR>/share/Tallyhouse, holding a copy of the
#     built console (same version, so start-up asks for no update) and a
#     small stand-in updater;
#   - the update server's three update lists under <DATA_DIR>/updateserver,
#     served on http://127.0.0.1:8080 by Python's http.server, started in the
#     background unless something already listens there. The server's process
#     ID goes into <DATA_DIR>/updateserver.pid when this script started it, for
#     the caller to stop it (stop-update-server below); the file is removed
#     when the server was already running.
# Usage: demo-release.sh DATA_DIR BUILD_DIR
#        demo-release.sh --stop DATA_DIR   (stops the server it started)
set -euo pipefail

# Stops the server whose ID the start wrote, if that process is still the
# update server.
if [ "${1:-}" = --stop ] && [ $# -eq 2 ]; then
  pidfile="$(realpath -m "$2")/updateserver.pid"
  pid=$(cat "$pidfile" 2>/dev/null || true)
  if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'http.server'; then
    kill "$pid" && echo "update server: stopped (pid $pid)"
  fi
  rm -f "$pidfile"
  exit 0
fi
if [ $# -ne 2 ]; then
  echo "usage: $0 DATA_DIR BUILD_DIR | --stop DATA_DIR" >&2
  exit 2
fi
data=$(realpath -m "$1")
build=$(realpath -m "$2")
console="$build/shell/tallyhouse"
if [ ! -x "$console" ]; then
  echo "demo-release: $console is not built" >&2
  exit 1
fi

# ---- Release share ---------------------------------------------------------
share="$data/share/Tallyhouse"
mkdir -p "$share"
install -m 755 "$console" "$share/tallyhouse"
cat > "$share/updatetall.tmp" <<'UPDATER'
#!/bin/sh
# Stand-in updater of the demo release share. The console starts it at exit
# when the share holds a console of another version; the demo share always
# holds the built console, so there is never anything to replace.
echo "updatetall: the demo share has nothing to install" >&2
exit 0
UPDATER
chmod 755 "$share/updatetall.tmp"
mv -f "$share/updatetall.tmp" "$share/updatetall"

# ---- Update server ---------------------------------------------------------
# One list per release line, at the paths the console asks for:
#   2.2 -> /updates/updates.txt, 2.3 -> /updates2/updates.txt,
#   3.0 -> /updates3/updates3.txt
# Each line: kind;file name;description;major;minor;release;build;flags;file
site="$data/updateserver"
mkdir -p "$site/updates" "$site/updates2" "$site/updates3"
printf 'FILE;TRELEDI.EXE;TrellaneEMC EDI;2;2;1;30;0;treledi.exe\r\n' > "$site/updates/updates.txt"
printf 'FILE;TRELEDI.EXE;TrellaneEMC EDI;2;3;0;47;0;treledi.exe\r\n' > "$site/updates2/updates.txt"
printf 'FILE;TRELEDI3.EXE;TrellaneEMC EDI 3;3;0;2;5;0;treledi3.exe\r\n' > "$site/updates3/updates3.txt"

host=127.0.0.1
port=8080
listening() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }

rm -f "$data/updateserver.pid"
if listening; then
  # Something serves the port already (an earlier start, usually): check
  # that it serves these lists.
  if python3 - "$host" "$port" "$site" <<'CHECK'
import sys, urllib.request
host, port, site = sys.argv[1:4]
for path in ("updates/updates.txt", "updates2/updates.txt", "updates3/updates3.txt"):
    with urllib.request.urlopen(f"http://{host}:{port}/{path}", timeout=5) as r:
        if r.read() != open(f"{site}/{path}", "rb").read():
            sys.exit(1)
CHECK
  then
    echo "update server: already listening on http://$host:$port"
  else
    echo "demo-release: http://$host:$port answers but does not serve $site" >&2
  fi
  exit 0
fi

log="$data/updateserver.log"
nohup setsid python3 -m http.server "$port" --bind "$host" --directory "$site" >"$log" 2>&1 < /dev/null &
pid=$!
for _ in $(seq 1 50); do
  listening && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "demo-release: the update server did not start (see $log)" >&2
    exit 1
  fi
  sleep 0.1
done
echo "$pid" > "$data/updateserver.pid"
echo "update server: http://$host:$port serving $site, pid $pid"
