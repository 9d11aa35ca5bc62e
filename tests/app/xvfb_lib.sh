# Shell helpers of the tests that run the real program on Xvfb. Sourced; the
# caller sets `tmp` (a scratch directory it removes) and `out` (where pictures
# stay) before using them.

XWIN="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/xwin.py"

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

# Starts an X server of its own (Xvfb picks a free display number and writes
# it to fd 3) and exports DISPLAY; its pid is left in xpid.
start_xvfb() {
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
}

# pid title [other]: prints the id of the visible window of process `pid`
# whose _NET_WM_NAME is exactly `title` (and which is not window `other`),
# waiting up to 10 s; returns 1 (having printed the titles it saw to stderr)
# when there is none.
window_titled() {
  local pid=$1 title=$2 other=${3:-} w seen
  for _ in $(seq 100); do
    seen=""
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
      t=$(/usr/bin/python3 "$XWIN" title "$w" 2>/dev/null) || continue
      if [ "$t" = "$title" ] && [ "$w" != "$other" ]; then
        echo "$w"
        return 0
      fi
      seen="$seen [$t]"
    done
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "no window titled [$title]; titles seen:$seen" >&2
  return 1
}

# window name: the window's dump (xwd) under $tmp, and a PNG of it under $out.
shoot() {
  xwd -silent -id "$1" >"$tmp/$2.xwd" || fail "xwd $2"
  /usr/bin/python3 "$XWIN" png "$tmp/$2.xwd" "$out/$2.png" || fail "png $2"
}

# window: closes the program's main window as a window manager's close button
# would, waits up to 10 s for the program (pid in npid) to end, and fails
# unless it ends with exit code 0. Prints how long it took.
close_and_wait() {
  /usr/bin/python3 "$XWIN" close "$1" || fail "close request"
  wait_for_end
}

# Waits up to 10 s for the program (pid in npid) to end, and fails unless it
# ends with exit code 0. Prints how long it took.
wait_for_end() {
  local t0 rc
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
  [ "$rc" -eq 0 ] || fail "netvane exited with $rc: $(cat "$tmp/netvane.log" 2>/dev/null)"
}
