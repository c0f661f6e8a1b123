#!/usr/bin/env bash
# Checks the Debian package made by `cmake --build build --target package`:
# lintian (no errors; its other findings are printed), and the packaged
# desktop entry and AppStream metadata with desktop-file-validate and
# appstreamcli. Ends with status 1 when any check fails.
# Usage: check-package.sh PACKAGE.deb
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"

status=0
# Errors fail the check; warnings and information are shown. Lintian warns
# about running as root (CI does): not a finding of the package.
findings=$(lintian --fail-on error --info --display-info "$deb" 2>&1) || status=1
findings=$(grep -v -e '^running with root privileges' -e '^N:' <<<"$findings" || true)
echo "lintian $(basename "$deb"): ${findings:+$'\n'}${findings:-no findings}"
[ $status -eq 0 ] || echo "lintian: the package has errors" >&2

for desktop in "$work"/usr/share/applications/*.desktop; do
  if desktop-file-validate "$desktop"; then
    echo "desktop-file-validate ${desktop#"$work"}: ok"
  else
    status=1
  fi
done
for metainfo in "$work"/usr/share/metainfo/*.metainfo.xml; do
  echo "appstreamcli validate ${metainfo#"$work"}:"
  appstreamcli validate --no-net --no-color "$metainfo" || status=1
done
exit $status
