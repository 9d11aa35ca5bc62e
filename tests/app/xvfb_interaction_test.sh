#!/usr/bin/env bash
# Drives the real, unmodified program under Xvfb with X input, as a user would,
# once with the default light palette and once with a dark one (qt6ct's
# "darker" scheme, as a dark desktop hands it to Qt). The program runs inside a
# test-made network namespace that holds only loopback and one end of a veth
# pair, and is started with Qt options it must not heed: it takes no arguments.
#
# Each run, checked from outside on the window's pixels and titles:
#   - the empty bottom row is clicked before Start; once pings have filled it,
#     clicking it again shows its frame (a 1442-byte echo) in the dump;
#   - the adapter box looks different once Start has disabled it;
#   - every text checked reaches a contrast of 4.5:1 on its own ground: labels,
#     adapter box (enabled and disabled), packet list cells and header, tree
#     lines (plain and selected), both dumps and the field highlight;
#   - a click on the first field line colours that field's bytes blue and no
#     others, and never the text dump;
#   - dragging over the hex dump and typing change nothing in it, the wheel
#     scrolls it to the end of the frame, and its scroll bar scrolls it back;
#   - the about box, the save dialog, its error box and its replace question
#     carry exactly their titles in _NET_WM_NAME; a save writes the frame of
#     the clicked row and the dialog's file list shows the new file;
#   - closing with the captured frames never saved asks first: Escape (Cancel)
#     keeps the program running; closed again, Return (Save) brings the "Save
#     capture as" dialog, the frames are saved (tcpdump or netvane-dump reads
#     every echo back), and the program ends with exit code 0.
# Then, once, a capture in and out: a pcap file opened through the packet
# list's context menu and the file dialog lists its frames as rows, a row of it
# shows its frame, and Ctrl+Shift+S saves it; the saved file holds the same
# frames as the original, record by record (bytes, time stamps, wire lengths),
# and netvane-dump (and tcpdump, where installed) read it. Then the opened file
# is cut short under the window: a row past the cut shows an empty dump, a box
# says why, and the rows before the cut still show their frames. Last, `netvane
# FILE` lists the file's frames; Go to packet says that a frame out of range
# does not exist, then selects and scrolls to one; Find selects the first frame
# after it with a byte string, F3 the next one after wrapping round, with a note.
# The display filter in that window: a bad expression is said and its dialog
# stays; a good one titles the window "N of 600 frames", and the shown frames
# saved are exactly the records that libpcap's own reader and filter keep of
# the file; Go to says a hidden frame is hidden; Clear filter ends it.
# Conversations and Follow TCP stream, on a capture of two TCP connections
# whose bytes the test wrote: the TCP tab's first row, filtered on, shows the
# frames the test wrote of that connection; its stream followed and saved,
# both sides and the server's alone, is byte for byte what the test sent
# (across a retransmission, two swapped segments and a sequence number that
# wraps), over more than one page of the view.
# Pictures stay under the build tree.
# Usage: xvfb_interaction_test.sh <netvane executable> <artifact directory> <netvane-dump executable>
set -u
exe=$1
out=$2
dumper=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_lib.sh"

[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in Xvfb xdotool xwd ip ping qt6ct; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
py=/usr/bin/python3
[ -x "$py" ] || skip "python3 is not installed"
[ -x "$exe" ] || fail "no program at $exe"
[ -x "$dumper" ] || fail "no netvane-dump at $dumper"

# Window-relative places (no window manager: the window is its client area).
# The tab control sits at 0,40; its page starts below the tab bar and the
# pane's frame, measured with the style Qt chooses on this system.
page_x=2
page_y=65
start_x=16 start_y=16                              # Start, 32 x 32 at 0,0
save_x=112 about_x=144                             # Save and About beside it
row1_x=$((page_x + 280 + 27))                      # Packets at 280,0: column "Packet Nr"
row1_y=$((page_y + 18 + 9))                        # below the 18-pixel header row
field_x=$((page_x + 100))                          # TV at 0,0: the second line, the first
field_y=$((page_y + 1 + 13 + 6))                   # field line under "Ethernet Header"
dump=($((page_x + 282)) $((page_y + 202)) 247 373) # Packet's text, scroll bar excluded
text=($((page_x + 554)) $((page_y + 202)) 295 373) # PacketASCII's text
row1=($((page_x + 282)) $((page_y + 19)) 50 16)    # row 1's number cell
# Boxes whose text contrast is measured: inside a control, clear of frames,
# grid lines and focus rectangles, so the strongest pixel is the text's.
status=(168 0 110 14)                                  # "Captured packets : "
card=(515 19 300 14)                                   # the adapter box's text
header=($((page_x + 340)) $((page_y + 3)) 95 12)       # "Source Card"
cell1=($((page_x + 285)) $((page_y + 22)) 46 11)       # row 1, number (selected)
cell2=($((page_x + 340)) $((page_y + 40)) 95 11)       # row 2, source card
tree=($((page_x + 22)) $((page_y + 2)) 230 12)         # "Ethernet Header"
treesel=($((page_x + 40)) $((page_y + 16)) 150 10)     # the first field line
scroll_up=($((page_x + 280 + 258)) $((page_y + 200 + 22)))  # the dump's scroll bar track

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
# Fixed neighbours: no ARP, so every frame on the link is a 1442-byte echo
# request or reply (1400 bytes of data, 8 ICMP, 20 IP, 14 Ethernet).
mac_ca=$(ip -n "$cap" -br link show "$ca" | awk '{print $3}')
mac_gb=$(ip -n "$gen" -br link show "$gb" | awk '{print $3}')
ip -n "$cap" neigh replace 10.213.0.2 lladdr "$mac_gb" dev "$ca" nud permanent &&
  ip -n "$gen" neigh replace 10.213.0.1 lladdr "$mac_ca" dev "$gb" nud permanent || fail "fixed neighbours"
frame_bytes=1442

# The dark desktop: qt6ct's own "darker" colour scheme through its config file.
mkdir -p "$tmp/dark/qt6ct"
cat >"$tmp/dark/qt6ct/qt6ct.conf" <<CONF
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
CONF

start_xvfb

stats() { # file box...: prints "blue N x0 y0 x1 y1 ink N x0 y0 x1 y1"
  "$py" "$XWIN" stats "$tmp/$1.xwd" "${@:2}" || fail "stats $1"
}
# name test box...: dumps the window until the box's stats pass the test (a
# shell function given blue and ink counts), for at most 40 tries; the last
# picture is kept either way, so a failure can be looked at.
settle() {
  local name=$1 test=$2 blue ink
  shift 2
  for _ in $(seq 40); do
    shoot "$win" "$name"
    read -r _ blue _ _ _ _ _ ink _ < <(stats "$name" "$@")
    "$test" "$blue" "$ink" && return 0
    sleep 0.25
  done
  return 1
}
empty() { [ "$1" -eq 0 ] && [ "$2" -eq 0 ]; }
filled() { [ "$2" -gt 0 ]; }
coloured() { [ "$1" -gt 0 ]; }
# what picture box...: the strongest text in the box reaches 4.5:1.
readable() {
  local what=$1 pic=$2 r rest
  read -r r rest < <("$py" "$XWIN" "${CONTRAST:-contrast}" "$tmp/$pic.xwd" "${@:3}") || fail "contrast $what"
  echo "contrast $what: $r ($rest)"
  "$py" -c "import sys; sys.exit(0 if float('$r') >= 4.5 else 1)" || fail "$what reads at $r:1 only ($rest)"
}
differ() { # a b box...: number of differing pixels
  "$py" "$XWIN" differ "$tmp/$1.xwd" "$tmp/$2.xwd" "${@:3}" || fail "differ $1 $2"
}
click() { # window x y
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
gone() { # window: waits up to 5 s for it to be unmapped
  for _ in $(seq 50); do
    xdotool search --onlyvisible --pid "$npid" 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  return 1
}

# dialog name: saves the selected frame with the open save dialog as
# $tmp/cwd/name (the dialog shows the working directory), waiting up to 5 s.
save_as() {
  click "$1" 150 274 # the file name box
  xdotool key --clearmodifiers ctrl+a type "$2"
  click "$1" 68 324 # Save
  for _ in $(seq 50); do
    [ -s "$tmp/cwd/$2" ] && break
    sleep 0.1
  done
}

run() {
  local palette=$1 p=$1- blue ink bx0 by0 bx1 by1 dy0 rest tblue
  echo "--- $palette palette"
  rm -rf "$tmp/cwd" && mkdir "$tmp/cwd"
  # Qt options on the command line: were they heeded, the window would not
  # reach this X server (offscreen) or Qt would find no platform plug-in.
  (
    cd "$tmp/cwd" || exit 1
    [ "$palette" = dark ] && export QT_QPA_PLATFORMTHEME=qt6ct XDG_CONFIG_HOME="$tmp/dark"
    QT_QPA_PLATFORM=xcb exec ip netns exec "$cap" "$exe" -platform offscreen -platformpluginpath /nonexistent
  ) >"$tmp/netvane.log" 2>&1 &
  npid=$!
  win=$(window_titled "$npid" "Netvane") || fail "no main window titled Netvane (were its arguments heeded?): $(cat "$tmp/netvane.log")"

  # Until the first paint the window may show anything: wait for a blank dump.
  settle "${p}start-up" empty "${dump[@]}" || fail "the dump is not blank at start-up"
  read -r w h < <("$py" "$XWIN" size "$tmp/${p}start-up.xwd")
  [ "$w" -eq 875 ] && [ "$h" -eq 654 ] || fail "window is $w x $h, not 875 x 654"
  # The dark run must really be dark: its dump's ground is dark.
  read -r _ _ ground _ < <("$py" "$XWIN" contrast "$tmp/${p}start-up.xwd" "${dump[@]}")
  dark=$("$py" -c "print(int(sum(map(int, '$ground'.split(','))) < 300))")
  [ "$dark" = $([ "$palette" = dark ] && echo 1 || echo 0) ] || fail "the $palette palette did not take (dump ground $ground)"
  readable "status label" "${p}start-up" "${status[@]}"
  readable "adapter box" "${p}start-up" "${card[@]}"
  readable "packet list header" "${p}start-up" "${header[@]}"
  readable "tree section node" "${p}start-up" "${tree[@]}"

  # Row 1 is the empty bottom row now; it becomes the current cell.
  click "$win" $row1_x $row1_y
  # The first adapter is selected at start-up; libpcap lists interfaces that
  # are up, running and addressed before loopback, so that is the veth. Were
  # it not, the pings below would never appear as rows.
  click "$win" $start_x $start_y
  sleep 0.5
  shoot "$win" "${p}started"
  changed=$(differ "${p}start-up" "${p}started" "${card[@]}")
  echo "adapter box: $changed of $((card[2] * card[3])) pixels changed when Start disabled it"
  [ "$changed" -ge $((card[2] * card[3] / 2)) ] || fail "the disabled adapter box looks enabled ($changed pixels changed)"
  readable "disabled adapter box" "${p}started" "${card[@]}"

  timeout 20 ip netns exec "$gen" ping -q -c 6 -i 0.2 -s 1400 -W 1 10.213.0.1 >/dev/null 2>&1 &
  ppid=$!
  settle "${p}rows-arrived" filled "${row1[@]}" || fail "no rows appeared after Start and the pings"
  stats "${p}rows-arrived" "${dump[@]}" | grep -q ' ink 0 ' || fail "the dump filled before row 1 was clicked again"

  # The same cell again, now that it holds frame 1.
  click "$win" $row1_x $row1_y
  settle "${p}row-selected" filled "${dump[@]}" || fail "clicking row 1 again, now filled, left the dump empty"
  read -r _ blue _ < <(stats "${p}row-selected" "${dump[@]}")
  [ "$blue" -eq 0 ] || fail "dump blue before any field click ($blue pixels)"
  readable "hex dump" "${p}row-selected" "${dump[@]}"
  readable "text dump" "${p}row-selected" "${text[@]}"
  readable "selected packet cell" "${p}row-selected" "${cell1[@]}"
  readable "packet cell" "${p}row-selected" "${cell2[@]}"
  readable "tree line" "${p}row-selected" "${tree[@]}"

  click "$win" $field_x $field_y
  settle "${p}field-highlight" coloured "${dump[@]}" || fail "the field click coloured nothing blue"
  read -r _ blue bx0 by0 bx1 by1 _ ink _ dy0 _ < <(stats "${p}field-highlight" "${dump[@]}")
  echo "dump after the field click: $blue blue pixels in $bx0,$by0..$bx1,$by1; text from y $dy0"
  [ $((by1 - by0)) -lt 16 ] || fail "blue spans more than one line ($by0..$by1)"
  [ "$by0" -le $((dy0 + 2)) ] || fail "blue is not on the dump's first line ($by0, text from $dy0)"
  read -r _ _ _ _ _ _ _ rest _ < <(stats "${p}field-highlight" $((bx1 + 1)) "$by0" $((dump[0] + dump[2] - bx1 - 1)) $((by1 - by0 + 1)))
  [ "$rest" -gt 0 ] || fail "no plain text after the blue range on its line"
  read -r _ tblue _ < <(stats "${p}field-highlight" "${text[@]}")
  [ "$tblue" -eq 0 ] || fail "the text dump turned blue ($tblue pixels)"
  CONTRAST=bluecontrast readable "field highlight" "${p}field-highlight" "${dump[@]}"
  readable "selected tree line" "${p}field-highlight" "${treesel[@]}"

  # Dragging over the hex dump and typing select and change nothing in it.
  xdotool mousemove --window "$win" $((dump[0] + 20)) $((dump[1] + 5)) mousedown 1 \
    mousemove --window "$win" $((dump[0] + 200)) $((dump[1] + 60)) mouseup 1 type "zz"
  sleep 0.3
  shoot "$win" "${p}after-drag"
  [ "$(differ "${p}field-highlight" "${p}after-drag" "${dump[@]}")" -eq 0 ] ||
    fail "dragging and typing over the hex dump changed it"

  # The wheel scrolls the dump to the end of the frame: then its last text
  # line is the frame's short last line, not a full one.
  local last="${p}after-drag" moved=0
  for _ in $(seq 20); do
    xdotool mousemove --window "$win" $((dump[0] + 100)) $((dump[1] + 150)) click --repeat 5 --delay 20 5
    sleep 0.2
    shoot "$win" "${p}wheel"
    if [ "$(differ "$last" "${p}wheel" "${dump[@]}")" -eq 0 ]; then
      break
    fi
    moved=$((moved + 1))
    cp "$tmp/${p}wheel.xwd" "$tmp/${p}wheel-end.xwd"
    last="${p}wheel-end"
  done
  "$py" "$XWIN" png "$tmp/${p}wheel-end.xwd" "$out/${p}wheel-end.png" 2>/dev/null
  echo "wheel: the dump moved for $moved batches of 5 steps"
  [ "$moved" -ge 4 ] || fail "the wheel scrolled the dump of a $frame_bytes-byte frame for $moved batches only"
  [ "$moved" -lt 20 ] || fail "the dump never stopped scrolling"
  read -r _ _ _ _ _ _ _ ink _ _ _ iy1 < <(stats "${p}wheel-end" "${dump[@]}")
  read -r _ _ _ _ _ _ _ ink _ _ lx1 _ < <(stats "${p}wheel-end" "${dump[0]}" $((iy1 - 8)) "${dump[2]}" 9)
  echo "wheel end: the last text line ends at x $lx1 (the dump runs to $((dump[0] + dump[2])))"
  [ "$lx1" -lt $((dump[0] + dump[2] / 3)) ] || fail "the wheel did not reach the end of the frame"
  # The scroll bar: a click in its track above the handle pages back up.
  click "$win" "${scroll_up[@]}"
  sleep 0.3
  shoot "$win" "${p}scroll-bar"
  [ "$(differ "${p}wheel-end" "${p}scroll-bar" "${dump[@]}")" -gt 0 ] || fail "the dump's scroll bar does not scroll it"

  # The about box and its title.
  click "$win" $about_x $start_y
  about=$(window_titled "$npid" "Netvane ") || fail "about box title"
  "$py" "$XWIN" close "$about" || fail "close the about box"
  gone "$about" || fail "the about box stayed"

  # The save dialog, its error box, a save, the replace question.
  click "$win" $save_x $start_y
  dlg=$(window_titled "$npid" "Save packet") || fail "save dialog title"
  sleep 0.5
  shoot "$dlg" "${p}save-dialog"
  readable "save dialog label" "${p}save-dialog" 0 248 150 14
  click "$dlg" 68 324 # Save, with the drive root proposed: no file can have that name
  box=$(window_titled "$npid" "File Error") || fail "error box title"
  "$py" "$XWIN" close "$box" || fail "close the error box"
  gone "$box" || fail "the error box stayed"
  save_as "$dlg" frame.bin
  size=$(stat -c %s "$tmp/cwd/frame.bin" 2>/dev/null || echo none)
  [ "$size" = "$frame_bytes" ] || fail "the save wrote $size bytes, not the $frame_bytes of frame 1"
  sleep 0.3
  shoot "$dlg" "${p}saved"
  [ "$(differ "${p}save-dialog" "${p}saved" 378 26 237 325)" -gt 0 ] || fail "the file list does not show the saved file"
  click "$dlg" 68 324
  box=$(window_titled "$npid" "Warning") || fail "replace question title"
  "$py" "$XWIN" close "$box" || fail "answer the replace question"
  gone "$box" || fail "the replace question stayed"
  "$py" "$XWIN" close "$dlg" || fail "close the save dialog"
  gone "$dlg" || fail "the save dialog stayed"

  # Close as a window manager would on the title bar's close button.
  wait "$ppid" 2>/dev/null
  ppid=""
  close_saving "$win" "$tmp/${p}live.pcap"
}

# key: answers the question that comes before unsaved captured frames go
# (a box titled Netvane over the main window $win) with a key.
answer_unsaved() {
  local box
  box=$(window_titled "$npid" "Netvane" "$win") || fail "no question before the unsaved frames go"
  xdotool windowfocus "$box" 2>/dev/null
  sleep 0.3
  xdotool key "$1"
  gone "$box" || fail "the question stayed after $1"
}

# window file: closes the main window, which lists captured frames that were
# never saved. Cancel keeps it; Save writes them to FILE, and the program ends.
close_saving() {
  local n
  "$py" "$XWIN" close "$1" || fail "close request"
  answer_unsaved Escape
  sleep 0.5
  kill -0 "$npid" 2>/dev/null || fail "Cancel did not keep the program running"
  "$py" "$XWIN" close "$1" || fail "second close request"
  answer_unsaved Return
  dlg=$(window_titled "$npid" "Save capture as") || fail "Save brought no file dialog titled Save capture as"
  choose "$dlg" "$2" || fail "the save dialog did not take the file name"
  wait_for_end
  if command -v tcpdump >/dev/null; then
    n=$(tcpdump -nn -r "$2" 2>/dev/null | wc -l)
  else
    n=$("$dumper" "$2" 2>/dev/null | grep -c ICMP)
  fi
  echo "saved before closing: $n frames"
  # Six pings of 1442-byte echoes on a link without ARP: 12 frames.
  [ "$n" -eq 12 ] || fail "the frames saved before closing: $n, not the 6 echo requests and replies"
}

# dialog path: types the path into a file dialog's name box (which has the
# focus) and accepts it; a completion list that the first Return only closes
# takes another.
choose() {
  xdotool windowfocus "$1" 2>/dev/null
  sleep 0.3
  xdotool type --delay 5 "$2"
  for _ in 1 2 3; do
    xdotool key Return
    gone "$1" && return 0
  done
  return 1
}

captures() {
  local frames=7 k box ink
  echo "--- a capture in and out"
  "$py" "$here/pcaps.py" sample "$tmp/in.pcap" $frames || fail "could not write the sample capture"
  rm -rf "$tmp/cwd" && mkdir "$tmp/cwd"
  (
    cd "$tmp/cwd" || exit 1
    QT_QPA_PLATFORM=xcb exec ip netns exec "$cap" "$exe"
  ) >"$tmp/netvane.log" 2>&1 &
  npid=$!
  win=$(window_titled "$npid" "Netvane") || fail "no main window: $(cat "$tmp/netvane.log")"
  settle "file-start-up" empty "${dump[@]}" || fail "the dump is not blank at start-up"

  # The packet list's context menu, its first entry.
  xdotool mousemove --window "$win" $row1_x $((row1_y + 60)) click 3
  sleep 0.5
  xdotool key Down Return
  dlg=$(window_titled "$npid" "Open capture") || fail "no file dialog titled Open capture"
  choose "$dlg" "$tmp/in.pcap" || fail "the open dialog did not take the file name"
  # One row per frame, then the empty bottom row.
  row() { echo $((page_x + 282)) $((page_y + 19 + ($1 - 1) * 18)) 50 16; }
  settle "file-opened" filled $(row $frames) || fail "row $frames did not fill after the open"
  for k in $(seq 1 $((frames + 1))); do
    read -r _ _ _ _ _ _ _ ink _ < <(stats "file-opened" $(row "$k"))
    if [ "$k" -le "$frames" ]; then
      [ "$ink" -gt 0 ] || fail "row $k of the opened capture is empty"
    else
      [ "$ink" -eq 0 ] || fail "a row beyond the $frames frames of the capture shows something"
    fi
  done
  click "$win" $row1_x $((row1_y + 2 * 18))
  settle "file-row3" filled "${dump[@]}" || fail "row 3 of the opened capture shows no frame"

  xdotool key ctrl+shift+s
  dlg=$(window_titled "$npid" "Save capture as") || fail "no file dialog titled Save capture as"
  choose "$dlg" "$tmp/out.pcap" || fail "the save dialog did not take the file name"
  for _ in $(seq 50); do
    [ -s "$tmp/out.pcap" ] && break
    sleep 0.1
  done
  [ -s "$tmp/out.pcap" ] || fail "nothing saved as $tmp/out.pcap"
  n=$("$py" "$here/pcaps.py" same "$tmp/in.pcap" "$tmp/out.pcap") || fail "the saved capture differs from the one opened"
  echo "saved capture: the same $n frames, time stamps and wire lengths as the one opened"
  "$dumper" "$tmp/in.pcap" >"$tmp/in.rows" && "$dumper" "$tmp/out.pcap" >"$tmp/out.rows" ||
    fail "netvane-dump cannot read the saved capture"
  cmp -s "$tmp/in.rows" "$tmp/out.rows" || fail "netvane-dump reads the saved capture differently"
  if command -v tcpdump >/dev/null; then
    [ "$(tcpdump -nn -r "$tmp/out.pcap" 2>/dev/null | wc -l)" -eq "$frames" ] || fail "tcpdump cannot read the saved capture"
    echo "tcpdump reads the saved capture"
  fi

  # The file cut short under the window, after frame 3.
  "$py" "$here/pcaps.py" cut "$tmp/in.pcap" 3 || fail "could not cut the capture short"
  click "$win" $row1_x $((row1_y + 5 * 18))
  box=$(window_titled "$npid" "Netvane" "$win") || fail "no box says why row 6 of a file cut short shows nothing"
  # Closed before the dump is looked at: the box stands over it.
  "$py" "$XWIN" close "$box" || fail "close the box about the cut file"
  gone "$box" || fail "the box about the cut file stayed"
  settle "file-cut-row6" empty "${dump[@]}" || fail "row 6, past the cut, still shows a frame"
  click "$win" $row1_x $((row1_y + 1 * 18))
  settle "file-cut-row2" filled "${dump[@]}" || fail "row 2, before the cut, shows no frame after the cut"
  echo "cut short under the window: row 6 shows nothing and a box says why; row 2 still shows its frame"
  close_and_wait "$win"
}

# name number: the selected frame, saved through the save dialog, is record
# `number` of many.pcap.
selected_is() {
  click "$win" $save_x $start_y
  dlg=$(window_titled "$npid" "Save packet") || fail "save dialog title"
  save_as "$dlg" "$1.bin"
  "$py" "$XWIN" close "$dlg" || fail "close the save dialog"
  gone "$dlg" || fail "the save dialog stayed"
  "$py" "$here/pcaps.py" frame "$tmp/many.pcap" "$2" "$tmp/expected.bin"
  cmp -s "$tmp/cwd/$1.bin" "$tmp/expected.bin" || fail "$1: the selected frame is not frame $2"
  echo "$1: frame $2 is selected"
}
# dialog text: types into a dialog's focused line and presses Return.
answer() {
  xdotool windowfocus "$1" 2>/dev/null
  sleep 0.3
  xdotool key --clearmodifiers ctrl+a type "$2"
  xdotool key Return
  gone "$1" || fail "the dialog stayed after \"$2\""
}

# netvane FILE (with a Qt option and its value before it, to be passed over),
# then Go to packet (a number out of range first), Find and F3. The sample
# capture's frame k goes to 10.213.0.(1 + (k - 1) % 200), so the bytes
# 0A D5 00 69 (10.213.0.105) are in frames 105, 305 and 505 alone.
go_to_and_find() {
  local frames=600 bar
  echo "--- netvane FILE, go to and find"
  "$py" "$here/pcaps.py" sample "$tmp/many.pcap" $frames || fail "could not write the sample capture"
  rm -rf "$tmp/cwd" && mkdir "$tmp/cwd"
  (
    cd "$tmp/cwd" || exit 1
    # The filter dialog remembers expressions: in the test's own settings.
    export XDG_CONFIG_HOME="$tmp/config"
    QT_QPA_PLATFORM=xcb exec ip netns exec "$cap" "$exe" -platform offscreen "$tmp/many.pcap"
  ) >"$tmp/netvane.log" 2>&1 &
  npid=$!
  win=$(window_titled "$npid" "Netvane") || fail "no main window: $(cat "$tmp/netvane.log")"
  settle "cmdline-opened" filled "${row1[@]}" || fail "netvane FILE listed no rows"
  grep -q '^netvane:' "$tmp/netvane.log" && fail "the Qt option was not passed over: $(cat "$tmp/netvane.log")"

  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+g
  dlg=$(window_titled "$npid" "Go to packet") || fail "no dialog titled Go to packet"
  answer "$dlg" $((frames + 1))
  box=$(window_titled "$npid" "Go to packet") || fail "no message about frame $((frames + 1))"
  "$py" "$XWIN" close "$box" || fail "close the message"
  gone "$box" || fail "the message stayed"
  dlg=$(window_titled "$npid" "Go to packet") || fail "Go to packet did not ask again"
  answer "$dlg" 500
  sleep 0.5
  shoot "$win" "go-to-500"
  bar=($((page_x + 280 + 568)) $((page_y + 19)) 14 170) # the list's scroll bar
  [ "$(differ "cmdline-opened" "go-to-500" "${bar[@]}")" -gt 0 ] || fail "the list did not scroll to frame 500"
  selected_is go-to 500

  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+f
  dlg=$(window_titled "$npid" "Find") || fail "no dialog titled Find"
  answer "$dlg" "0A D5 00 69"
  sleep 0.5
  selected_is find 505
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key F3
  sleep 0.5
  # The note that the search wrapped: a tool tip, the one other window.
  xdotool search --onlyvisible --pid "$npid" | grep -qvx "$win" || fail "F3 wrapped round without a note"
  selected_is find-next 105
  shoot "$win" "find-wrapped"
  display_filter
  close_and_wait "$win"
}

# The window's title, waiting up to 10 s for it to be `want`.
title_is() {
  local t=""
  for _ in $(seq 100); do
    t=$("$py" "$XWIN" title "$win" 2>/dev/null)
    [ "$t" = "$1" ] && return 0
    sleep 0.1
  done
  echo "the window is titled [$t]" >&2
  return 1
}

# The display filter on the 600 frames of many.pcap, in the window that
# go_to_and_find opened. The expression takes a third of the frames by their
# length on the wire, which the cut ones (every third) exceed their stored
# bytes by, so libpcap must be given both; what the window saves of the shown
# frames must be what libpcap's own reader, filter and writer make of the file.
display_filter() {
  local expr="ip dst 10.213.0.105 or (greater 1000 and udp src portrange 40000-40299)" want
  echo "--- the display filter"
  "$py" "$here/pcaps.py" filter "$tmp/many.pcap" "$tmp/expected.pcap" "$expr" || fail "libpcap could not filter the capture"
  want=$("$py" "$here/pcaps.py" same "$tmp/expected.pcap" "$tmp/expected.pcap") || fail "no filtered reference"
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+l
  dlg=$(window_titled "$npid" "Display filter") || fail "no dialog titled Display filter"
  xdotool windowfocus "$dlg" 2>/dev/null
  sleep 0.3
  xdotool key --clearmodifiers ctrl+a type "udp port"
  xdotool key Return
  box=$(window_titled "$npid" "Display filter" "$dlg") || fail "no box said that \"udp port\" is no expression"
  "$py" "$XWIN" close "$box" || fail "close the box"
  gone "$box" || fail "the box stayed"
  xdotool search --onlyvisible --pid "$npid" | grep -qx "$dlg" || fail "the dialog closed after a bad expression"
  title_is "Netvane" || fail "a bad expression changed the window"
  answer "$dlg" "$expr"
  title_is "Netvane - filter: $expr - $want of 600 frames" || fail "the title does not say the filter shows $want of 600 frames"
  echo "filter: the window shows $want of 600 frames, as libpcap's reader lets through"

  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+shift+s
  dlg=$(window_titled "$npid" "Save the $want frames the filter shows as") || fail "the save dialog does not say it saves the shown frames"
  choose "$dlg" "$tmp/shown.pcap" || fail "the save dialog did not take the file name"
  for _ in $(seq 50); do
    [ -s "$tmp/shown.pcap" ] && break
    sleep 0.1
  done
  n=$("$py" "$here/pcaps.py" same "$tmp/expected.pcap" "$tmp/shown.pcap") ||
    fail "the saved shown frames differ from what libpcap's filter keeps"
  echo "saved under the filter: the same $n records as libpcap's reader and filter write"

  # Go to names a frame that the filter hides, and asks again.
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+g
  dlg=$(window_titled "$npid" "Go to packet") || fail "no dialog titled Go to packet"
  answer "$dlg" 2
  box=$(window_titled "$npid" "Go to packet") || fail "no message about hidden frame 2"
  "$py" "$XWIN" close "$box" || fail "close the message"
  gone "$box" || fail "the message stayed"
  dlg=$(window_titled "$npid" "Go to packet") || fail "Go to packet did not ask again"
  answer "$dlg" 305
  sleep 0.5
  selected_is filtered-go-to 305
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+shift+l
  title_is "Netvane" || fail "Clear filter left the title"
  shoot "$win" "filter-cleared"
}

# Conversations and Follow TCP stream on the two connections pcaps.py writes.
streams_windows() {
  local frames0 total conv follow
  local expr="tcp and host 10.1.0.1 and port 40001 and host 10.2.0.2 and port 80"
  echo "--- conversations and follow TCP stream"
  frames0=$("$py" "$here/pcaps.py" streams "$tmp/streams.pcap" "$tmp") || fail "could not write the streams capture"
  total=$("$py" "$here/pcaps.py" same "$tmp/streams.pcap" "$tmp/streams.pcap") || fail "no frame count"
  rm -rf "$tmp/cwd" && mkdir "$tmp/cwd"
  (
    cd "$tmp/cwd" || exit 1
    export XDG_CONFIG_HOME="$tmp/config"
    QT_QPA_PLATFORM=xcb exec ip netns exec "$cap" "$exe" "$tmp/streams.pcap"
  ) >"$tmp/netvane.log" 2>&1 &
  npid=$!
  win=$(window_titled "$npid" "Netvane") || fail "no main window: $(cat "$tmp/netvane.log")"
  settle "streams-opened" filled "${row1[@]}" || fail "netvane FILE listed no rows"
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key ctrl+shift+c
  conv=$(window_titled "$npid" "Conversations") || fail "Ctrl+Shift+C opened no window titled Conversations"
  xdotool windowfocus "$conv" 2>/dev/null
  sleep 0.5
  xdotool key alt+t
  sleep 0.5
  shoot "$conv" "conversations-tcp"
  xdotool key ctrl+Return
  title_is "Netvane - filter: $expr - $frames0 of $total frames" ||
    fail "Filter on this conversation did not show the $frames0 frames of the first TCP connection"
  echo "conversations: the first TCP row filters on its $frames0 of $total frames"

  xdotool windowfocus "$conv" 2>/dev/null
  sleep 0.3
  xdotool key ctrl+alt+shift+t
  follow=$(window_titled "$npid" "Follow TCP stream 0 - 10.1.0.1:40001 and 10.2.0.2:80") ||
    fail "Follow stream opened no window for stream 0"
  sleep 1
  shoot "$follow" "follow-stream"
  xdotool windowfocus "$follow" 2>/dev/null
  sleep 0.3
  xdotool key ctrl+s
  dlg=$(window_titled "$npid" "Save both sides of the stream as") || fail "no save dialog for both sides"
  choose "$dlg" "$tmp/both.bin" || fail "the save dialog did not take the file name"
  cat "$tmp/client.bin" "$tmp/server.bin" >"$tmp/both.expected"
  cmp "$tmp/both.bin" "$tmp/both.expected" || fail "the saved stream is not the request and the answer sent"
  xdotool windowfocus "$follow" 2>/dev/null
  sleep 0.3
  xdotool key alt+i End
  sleep 0.3
  xdotool key ctrl+s
  dlg=$(window_titled "$npid" "Save the server's bytes as") || fail "no save dialog for the server's bytes"
  choose "$dlg" "$tmp/server.saved" || fail "the save dialog did not take the file name"
  cmp "$tmp/server.saved" "$tmp/server.bin" || fail "the saved server side is not the answer sent"
  echo "follow: both sides and the server's $(stat -c %s "$tmp/server.saved") bytes saved as sent"
  close_and_wait "$win"
}

run light
run dark
captures
go_to_and_find
streams_windows
echo "pictures: $out/{light,dark,file}-*.png"
echo "PASS"
