#!/usr/bin/env bash
# Starts the real program under Xvfb with the xcb platform. Through its
# screenshot hook (NETVANE_SCREENSHOT) the program saves a picture of its main
# window once the window is on the screen and then closes it as a user would.
# The picture stays under the build tree as a test artifact.
# Usage: screenshot_test.sh <netvane executable> <artifact directory>
set -u
exe=$1
out=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

command -v xvfb-run >/dev/null || skip "xvfb-run is not installed"
[ -x "$exe" ] || fail "no program at $exe"
mkdir -p "$out"
shot="$out/netvane-main-window.png"
rm -f "$shot"

QT_QPA_PLATFORM=xcb NETVANE_SCREENSHOT="$shot" \
  timeout -k 5 90 xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$exe"
rc=$?
[ "$rc" -eq 0 ] || fail "netvane exited with $rc"
[ -s "$shot" ] || fail "no screenshot at $shot"

# PNG signature, then the IHDR chunk: width and height as 32-bit big-endian.
sig=$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')
[ "$sig" = 89504e470d0a1a0a ] || fail "not a PNG: $sig"
read -r w h < <(od -An -j16 -N8 -tu1 "$shot" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
echo "screenshot $shot: ${w} x ${h}"
# The client area holds the tab control (873 x 609 at 0,40) inside 883 x 681.
[ "$w" -ge 873 ] && [ "$w" -le 883 ] || fail "width $w"
[ "$h" -ge 649 ] && [ "$h" -le 681 ] || fail "height $h"
echo "PASS"
