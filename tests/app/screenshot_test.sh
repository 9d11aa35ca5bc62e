#!/usr/bin/env bash
# Starts the real program under Xvfb with the xcb platform, takes a picture of
# its main window from outside (xwd), and closes it as a window manager would.
# The picture stays under the build tree as a test artifact.
# Usage: screenshot_test.sh <netvane executable> <artifact directory>
set -u
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_lib.sh"

for tool in Xvfb xdotool xwd; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -x /usr/bin/python3 ] || skip "python3 is not installed"
[ -x "$exe" ] || fail "no program at $exe"
mkdir -p "$out"
tmp=$(mktemp -d)
xpid="" npid=""
cleanup() {
  [ -n "$npid" ] && kill "$npid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start_xvfb
QT_QPA_PLATFORM=xcb "$exe" >"$tmp/netvane.log" 2>&1 &
npid=$!
win=$(window_titled "$npid" "Netvane") || fail "no main window: $(cat "$tmp/netvane.log")"
# The first paint may come a moment after the window is mapped.
sleep 1
shoot "$win" netvane-main-window
read -r w h < <(/usr/bin/python3 "$XWIN" size "$tmp/netvane-main-window.xwd")
echo "screenshot $out/netvane-main-window.png: ${w} x ${h}"
# The client area holds the tab control (873 x 609 at 0,40) inside 883 x 681.
[ "$w" -ge 873 ] && [ "$w" -le 883 ] || fail "width $w"
[ "$h" -ge 649 ] && [ "$h" -le 681 ] || fail "height $h"

close_and_wait "$win"
echo "PASS"
