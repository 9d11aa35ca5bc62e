#!/usr/bin/env bash
# Drives the real, unmodified program under Xvfb with X input, as a user would:
# the program runs inside a test-made network namespace that holds only
# loopback and one end of a veth pair; Start is clicked, pings from the other
# namespace become rows, row 1 is clicked, then the first field line of the
# protocol tree (the Ethernet destination address, bytes 0-5 of any frame),
# and the window is closed through the window manager's close request.
#
# Pictures of the window before the row click, after it and after the field
# click stay under the build tree. What can be seen from outside is checked:
#   - the dump is empty at start-up and filled (black text) after the row click;
#   - the dump holds no blue before the field click and blue text after it,
#     confined to the start of its first line with black text following on
#     that line, i.e. the clicked field's bytes and no others;
#   - the text dump beside it never turns blue;
#   - the program ends with exit code 0 within a few seconds of the close.
# Usage: xvfb_interaction_test.sh <netvane executable> <artifact directory>
set -u
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in Xvfb xdotool xwd ip ping; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
py=/usr/bin/python3
[ -x "$py" ] || skip "python3 is not installed"
[ -x "$exe" ] || fail "no program at $exe"

# Window-relative places (no window manager: the window is its client area).
# The tab control sits at 0,40; its page starts below the tab bar and the
# pane's frame, measured with the style Qt chooses on this system.
page_x=2
page_y=65
start_x=16 start_y=16                       # Start, 32 x 32 at 0,0
row1_x=$((page_x + 280 + 27))               # Packets at 280,0: column "Packet Nr"
row1_y=$((page_y + 18 + 9))                 # below the 18-pixel header row
field_x=$((page_x + 100))                   # TV at 0,0: the second line, the first
field_y=$((page_y + 1 + 13 + 6))            # field line under "Ethernet Header"
dump=($((page_x + 282)) $((page_y + 202)) 247 373)  # Packet's text, scroll bar excluded
text=($((page_x + 554)) $((page_y + 202)) 295 373)  # PacketASCII's text
row1=($((page_x + 282)) $((page_y + 19)) 50 16)      # row 1's number cell

mkdir -p "$out"
tmp=$(mktemp -d)
id=$$
cap=nvcap$id gen=nvgen$id
ca=nva$id gb=nvb$id
xpid="" npid="" ppid=""
cleanup() {
  [ -n "$ppid" ] && kill "$ppid" 2>/dev/null
  [ -n "$npid" ] && kill "$npid" 2>/dev/null && sleep 0.5 && kill -9 "$npid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  ip netns del "$cap" 2>/dev/null
  ip netns del "$gen" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

ip netns add "$cap" 2>/dev/null || skip "cannot create network namespaces"
ip netns add "$gen" || fail "second namespace"
# Without IPv6 the link stays quiet: only the test's own frames are captured.
for ns in "$cap" "$gen"; do
  ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/all/disable_ipv6 \
    /proc/sys/net/ipv6/conf/default/disable_ipv6; do [ -w "$f" ] && echo 1 >"$f"; done; true'
done
ip link add "$ca" type veth peer name "$gb" || skip "cannot create a veth pair"
ip link set "$ca" netns "$cap" && ip link set "$gb" netns "$gen" &&
  ip -n "$cap" addr add 10.213.0.1/24 dev "$ca" && ip -n "$gen" addr add 10.213.0.2/24 dev "$gb" &&
  ip -n "$cap" link set lo up && ip -n "$cap" link set "$ca" up && ip -n "$gen" link set "$gb" up ||
  fail "veth set-up"

# A display of its own: Xvfb picks a free number and writes it to fd 3.
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xpid=$!
exec 3>&-
for _ in $(seq 50); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xpid" 2>/dev/null || skip "Xvfb did not start: $(tail -1 "$tmp/xvfb.log")"
  sleep 0.1
done
[ -s "$tmp/display" ] || skip "Xvfb gave no display within 5 s"
DISPLAY=":$(head -1 "$tmp/display")"
export DISPLAY

# The program reaches the X server through its file-system socket, which the
# network namespace does not hide.
QT_QPA_PLATFORM=xcb ip netns exec "$cap" "$exe" >"$tmp/netvane.log" 2>&1 &
npid=$!

win=""
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --name '^Netvane$' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  kill -0 "$npid" 2>/dev/null || fail "netvane ended at start-up: $(cat "$tmp/netvane.log")"
  sleep 0.1
done
[ -n "$win" ] || fail "no main window within 10 s"
shot() { # name: dump the window
  xwd -silent -id "$win" >"$tmp/$1.xwd" || fail "xwd $1"
}
keep() { # name: the dump as a PNG test artifact
  "$py" "$here/xwin.py" png "$tmp/$1.xwd" "$out/netvane-$1.png" || fail "png $1"
}
stats() { # name box...: prints "blue N x0 y0 x1 y1 dark N x0 y0 x1 y1"
  "$py" "$here/xwin.py" stats "$tmp/$1.xwd" "${@:2}" || fail "stats $1"
}
# name test box...: dumps the window until the box's stats pass the test (a
# shell function given blue and dark counts), for at most 40 tries; the last
# picture is kept either way, so a failure can be looked at.
settle() {
  local name=$1 test=$2 blue dark
  shift 2
  for _ in $(seq 40); do
    shot "$name"
    read -r _ blue _ _ _ _ _ dark _ < <(stats "$name" "$@")
    if "$test" "$blue" "$dark"; then
      keep "$name"
      return 0
    fi
    sleep 0.25
  done
  keep "$name"
  return 1
}
empty() { [ "$1" -eq 0 ] && [ "$2" -eq 0 ]; }
filled() { [ "$2" -gt 0 ]; }
coloured() { [ "$1" -gt 0 ]; }

# Until the first paint the window may show anything: wait for a blank dump.
settle start-up empty "${dump[@]}" || fail "the dump is not blank at start-up"
read -r w h < <("$py" "$here/xwin.py" size "$tmp/start-up.xwd")
[ "$w" -eq 875 ] && [ "$h" -eq 654 ] || fail "window is $w x $h, not 875 x 654"

# The first adapter is selected at start-up; libpcap lists interfaces that are
# up, running and addressed before loopback, so that is the veth. Were it not,
# the pings below would never appear as rows.
xdotool mousemove --window "$win" $start_x $start_y click 1
sleep 0.5
timeout 20 ip netns exec "$gen" ping -q -c 10 -i 0.2 -W 1 10.213.0.1 >/dev/null 2>&1 &
ppid=$!
settle rows-arrived filled "${row1[@]}" || fail "no rows appeared within 40 tries after Start and the pings"

xdotool mousemove --window "$win" $row1_x $row1_y click 1
settle row-selected filled "${dump[@]}" || fail "row 1 click left the dump empty"
read -r _ blue _ < <(stats row-selected "${dump[@]}")
[ "$blue" -eq 0 ] || fail "dump blue before any field click ($blue pixels)"

xdotool mousemove --window "$win" $field_x $field_y click 1
settle field-highlight coloured "${dump[@]}" || fail "the field click coloured nothing blue"
read -r _ blue bx0 by0 bx1 by1 _ dark _ dy0 _ < <(stats field-highlight "${dump[@]}")
echo "dump after the field click: $blue blue pixels in $bx0,$by0..$bx1,$by1; text from y $dy0"
[ $((by1 - by0)) -lt 16 ] || fail "blue spans more than one line ($by0..$by1)"
[ "$by0" -le $((dy0 + 2)) ] || fail "blue is not on the dump's first line ($by0, text from $dy0)"
read -r _ _ _ _ _ _ _ rest _ < <(stats field-highlight $((bx1 + 1)) "$by0" $((dump[0] + dump[2] - bx1 - 1)) $((by1 - by0 + 1)))
[ "$rest" -gt 0 ] || fail "no black text after the blue range on its line"
read -r _ tblue _ < <(stats field-highlight "${text[@]}")
[ "$tblue" -eq 0 ] || fail "the text dump turned blue ($tblue pixels)"

# Close as a window manager would on the title bar's close button.
"$py" "$here/xwin.py" close "$win" || fail "close request"
t0=$(date +%s%N)
for _ in $(seq 100); do
  kill -0 "$npid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$npid" 2>/dev/null && fail "netvane still running 10 s after the close"
wait "$npid"
rc=$?
npid=""
echo "netvane ended with $rc after $((($(date +%s%N) - t0) / 1000000)) ms"
[ "$rc" -eq 0 ] || fail "netvane exited with $rc: $(cat "$tmp/netvane.log")"
echo "screenshots: $out/netvane-{start-up,rows-arrived,row-selected,field-highlight}.png"
echo "PASS"
