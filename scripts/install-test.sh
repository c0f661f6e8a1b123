#!/usr/bin/env bash
# CI's test of the package as a user gets it (as root, on a machine the
# package may be installed on): installs PACKAGE.deb with apt, starts the
# installed console without a display as an ordinary user ("nobody") with an
# empty home folder, answers its first-start question with "Load demo data"
# (TRELLANE_TEST_FIRST_START), checks that the Accounts tab shows the demo
# accounts, and removes the package again with its site file.
# Usage: install-test.sh PACKAGE.deb
set -euo pipefail
if [ $# -ne 1 ] || [ "$(id -u)" -ne 0 ]; then
  echo "usage (as root): $0 PACKAGE.deb" >&2
  exit 2
fi
deb=$(realpath "$1")
home=$(mktemp -d /tmp/trellane-home.XXXXXX)
out=$(mktemp)
cleanup() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tallyhouse >/dev/null 2>&1 || true
  rm -rf "$home" "$out"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }
# apt's output only when it fails.
quiet() { "$@" >"$out" 2>&1 || { cat "$out"; fail "$* failed"; }; }

quiet env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb"
desktop=/usr/share/applications/com.trellaneemc.tallyhouse.desktop
[ -f "$desktop" ] || fail "$desktop is not installed"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ "$(command -v "$exec_line")" = /usr/bin/tallyhouse ] || fail "the menu entry starts \"$exec_line\", not /usr/bin/tallyhouse"

# Nothing of the build tree: a clean environment, the home folder as the
# working folder, no library path.
chown nobody "$home"
run() {
  (cd "$home" && timeout 120 runuser -u nobody -- env -i HOME="$home" PATH=/usr/bin:/bin \
    QT_QPA_PLATFORM=offscreen "$@")
}
run TRELLANE_TEST_FIRST_START="Load demo data" /usr/bin/tallyhouse >"$out" 2>&1 || { cat "$out"; fail "the console ended with status $?"; }
sed 's/^/  /' "$out"

data="$home/.local/share/TrellaneEMC"
grep -qxF "question: No customer database found in $data. [Create empty databases | Load demo data | Quit]" "$out" \
  || fail "the first-start question was not asked"
accounts=$(sed -n 's/^accounts: //p' "$out")
[ "${accounts:-0}" -gt 0 ] || fail "the Accounts tab shows no accounts"
grep -qx "panel: RIVERSIDE FAMILY PRACTICE" "$out" || fail "the account panel does not show the first demo account"
# The site file names no release share and no update server: the first start
# shows no message and no error besides its question.
! grep -qE '^(message|error): ' "$out" || fail "the first start showed a message or an error"
[ -f "$data/Trellaneemc.sqlite" ] && [ -f "$data/mwddf.sqlite" ] || fail "the databases are not in $data"
[ "$(run /usr/bin/trellane-admin datadir)" = "$data" ] || fail "trellane-admin reads another data folder"

quiet env DEBIAN_FRONTEND=noninteractive apt-get purge -y tallyhouse
[ ! -e /usr/bin/tallyhouse ] && [ ! -e /etc/xdg/TrellaneEMC/console.conf ] || fail "the package left files behind"
echo "install test: installed, started with demo data ($accounts accounts), removed"
