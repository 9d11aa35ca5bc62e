#!/usr/bin/env bash
# Checks a built .deb as Debian would: lintian on the package (any error
# fails; warnings are listed), desktop-file-validate on its desktop entry (any
# error or warning fails), then hardening-check on the three programs in it
# (scripts/check-hardening.sh). Usage: check-package.sh PACKAGE.deb
set -euo pipefail
deb=${1:?usage: check-package.sh PACKAGE.deb}
status=0

echo "== lintian $deb"
found=$(lintian --display-info "$deb" 2>&1) || true
[ -n "$found" ] && echo "$found"
if grep -q '^E: ' <<<"$found"; then
  echo "lintian: errors above" >&2
  status=1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
echo "== desktop-file-validate"
entry="$root/usr/share/applications/netvane.desktop"
if [ ! -f "$entry" ]; then
  echo "no desktop entry in the package" >&2
  status=1
elif ! found=$(desktop-file-validate "$entry" 2>&1) || [ -n "$found" ]; then
  echo "$found" >&2
  status=1
fi
echo "== hardening-check"
bash "$(dirname "$0")/check-hardening.sh" "$root/usr" || status=1
exit $status
