#!/usr/bin/env bash
# Who may capture, on the layout `cmake --install` makes of the real programs:
# bin/netvane, bin/netvane-dump and libexec/netvane/netvane-capture, which the
# install, run as root, sets up root:netvane 0750 with cap_net_raw=ep where it
# put it (at the prefix given when installing, under DESTDIR too).
#   - the grant script refuses a symbolic link and a path a user controls;
#   - the installed programs pass hardening-check (when it is installed);
#   - a member of the group captures a veth with netvane-dump and with the
#     window, whose own capabilities stay empty while its helper holds
#     CAP_NET_RAW alone;
#   - a user outside the group gets the clear error and a non-zero exit;
#   - killing netvane-dump ends its helper at once.
# Needs root (users, a group, namespaces, file capabilities); exits 77
# (skipped) where that is not possible.
# Usage: test_capture_rights.sh BUILD_DIR SOURCE_DIR CONFIG
set -u
build=${1:?usage: test_capture_rights.sh BUILD_DIR SOURCE_DIR CONFIG}
source_dir=${2:?}
config=${3:-}

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to create users, a group, namespaces and file capabilities"
for tool in ip setcap getcap useradd userdel groupadd groupdel runuser ping pgrep cmake; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

tag=$$
member=nvin$tag
outsider=nvout$tag
nsa=nvcapa$tag
nsb=nvcapb$tag
work=$(mktemp -d /var/tmp/netvane-rights.XXXXXX)
made_group=""
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  ip netns del "$nsa" 2>/dev/null
  ip netns del "$nsb" 2>/dev/null
  userdel "$member" 2>/dev/null
  userdel "$outsider" 2>/dev/null
  [ -n "$made_group" ] && groupdel netvane 2>/dev/null
  rm -rf "$work"
  [ -d /opt/netvane-nowhere ] && rm -rf /opt/netvane-nowhere
}
trap cleanup EXIT

ip netns add "$nsa" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$nsb" || exit 1
ip link add vcapa$tag type veth peer name vcapb$tag || skip "cannot create veth pairs here"
ip link set vcapa$tag netns "$nsa"
ip link set vcapb$tag netns "$nsb"
ip -n "$nsa" addr add 10.231.0.1/24 dev vcapa$tag
ip -n "$nsb" addr add 10.231.0.2/24 dev vcapb$tag
ip -n "$nsa" link set vcapa$tag up
ip -n "$nsb" link set vcapb$tag up

# The install creates the group when it is missing; it goes again at the end.
getent group netvane >/dev/null || made_group=1
chmod 755 "$work"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
getent group netvane >/dev/null || { echo "FAIL: the install made no group netvane"; exit 1; }
useradd -M -s /usr/sbin/nologin -G netvane "$member" || exit 1
useradd -M -s /usr/sbin/nologin "$outsider" || exit 1
h=$work/prefix/libexec/netvane/netvane-capture
getcap "$h" | grep -q cap_net_raw || skip "file capabilities not kept on $work ($(tail -n 2 "$work/install.log"))"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
as() { # user command...: runs in the capture namespace as that user
  local user=$1
  shift
  ip netns exec "$nsa" runuser -u "$user" -- "$@"
}
pinging() { # count: pings from the other namespace, in the background
  ( for _ in $(seq 1 "$1"); do ip netns exec "$nsb" ping -c 1 -W 1 10.231.0.1 >/dev/null 2>&1; sleep 0.2; done ) &
  pids+=($!)
}
caps() { sed -n "s/^$2:\t*//p" "/proc/$1/status" 2>/dev/null; }
helper_of() { pgrep -P "$1" -x netvane-capture | head -1; }

# The install set up the helper where it put it, also under DESTDIR.
check "the installed helper is root:netvane 0750 ($(stat -c '%U:%G %a' "$h"))" \
  '[ "$(stat -c "%U:%G %a" "$h")" = "root:netvane 750" ]'
check "the installed helper has cap_net_raw=ep and nothing else ($(getcap "$h"))" \
  '[ "$(getcap "$h")" = "$h cap_net_raw=ep" ]'
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/netvane-nowhere >"$work/stage.log" 2>&1
staged=$work/stage/opt/netvane-nowhere/libexec/netvane/netvane-capture
check "with DESTDIR the staged helper is set up ($(getcap "$staged"))" '[ "$(getcap "$staged")" = "$staged cap_net_raw=ep" ]'
check "with DESTDIR nothing outside it is touched" '[ ! -e /opt/netvane-nowhere ]'

# The grant script refuses what a user could turn against root.
grant=$source_dir/packaging/grant-capture-right.sh
mkdir "$work/user" && chown "$member" "$work/user"
ln -s "$h" "$work/user/link"
cp /bin/true "$work/user/copy"
refused() { ! sh "$grant" "$1" >/dev/null 2>&1; }
check "the grant script refuses a symbolic link" 'refused "$work/user/link" && [ "$(stat -c %a "$h")" = 750 ]'
check "the grant script refuses a file in a directory a user owns" \
  'refused "$work/user/copy" && [ -z "$(getcap "$work/user/copy")" ]'
mkdir -m 0775 "$work/shared" && cp /bin/true "$work/shared/copy"
check "the grant script refuses a file in a directory others may write" 'refused "$work/shared/copy"'

if command -v hardening-check >/dev/null && [ "$config" != Debug ]; then
  check "the installed programs pass hardening-check" \
    'bash "$source_dir/scripts/check-hardening.sh" "$work/prefix" >"$work/hardening.log" 2>&1 || { cat "$work/hardening.log"; false; }'
else
  echo "note: hardening-check missing (NETVANE_PACKAGE_TOOLS=1 bash scripts/setup.sh) or a Debug build, not checked"
fi

# A member lists and captures through the helper.
list=$(as "$member" "$work/prefix/bin/netvane-dump" -D 2>&1)
check "a member's adapter list shows the veth" 'grep -q "vcapa$tag" <<<"$list"'
pinging 20
out=$(timeout 20 ip netns exec "$nsa" runuser -u "$member" -- "$work/prefix/bin/netvane-dump" -i vcapa$tag -c 3 2>"$work/err")
status=$?
check "a member's capture exits 0 (status $status: $(head -c 300 "$work/err"))" '[ $status = 0 ]'
rows=$(grep -c . <<<"$out")
check "a member's capture prints 3 rows (got $rows)" '[ "$rows" = 3 ]'
check "the rows are the veth's frames" 'grep -q "10.231.0" <<<"$out"'

# An outsider is told what to do.
out=$(timeout 20 ip netns exec "$nsa" runuser -u "$outsider" -- "$work/prefix/bin/netvane-dump" -i vcapa$tag -c 1 2>&1)
status=$?
echo "$out" | head -n 3
check "an outsider's capture fails (status $status)" '[ $status != 0 ]'
check "an outsider is told to ask for the group" \
  'grep -q "not allowed to capture: ask an administrator to add you to the group netvane" <<<"$out"'

# Killing the caller ends its helper.
ip netns exec "$nsa" runuser -u "$member" -- "$work/prefix/bin/netvane-dump" -i vcapa$tag >/dev/null 2>&1 &
runner=$!
pids+=($runner)
dpid="" hpid=""
for _ in $(seq 50); do
  dpid=$(pgrep -u "$member" -x netvane-dump | head -1)
  [ -n "$dpid" ] && hpid=$(helper_of "$dpid")
  [ -n "$hpid" ] && break
  sleep 0.1
done
check "netvane-dump started its helper" '[ -n "$hpid" ]'
if [ -n "$hpid" ]; then
  check "the helper holds CAP_NET_RAW alone ($(caps "$hpid" CapEff))" '[ "$(caps "$hpid" CapEff)" = 0000000000002000 ]'
  kill -9 "$dpid"
  gone=no
  for _ in $(seq 40); do
    state=$(awk '{print $3}' "/proc/$hpid/stat" 2>/dev/null)
    if [ -z "$state" ] || [ "$state" = Z ]; then gone=yes; break; fi
    sleep 0.05
  done
  check "the helper ends within 2 s of its caller's death" '[ $gone = yes ]'
fi

# The window as a member: no capability of its own, capture through the helper.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$work/display")"
  as "$member" env QT_QPA_PLATFORM=xcb HOME="$work" "$work/prefix/bin/netvane" >"$work/window.log" 2>&1 &
  pids+=($!)
  wpid="" win=""
  for _ in $(seq 100); do
    wpid=$(pgrep -u "$member" -x netvane | head -1)
    win=$(xdotool search --onlyvisible --name '^Netvane$' 2>/dev/null | head -1)
    [ -n "$wpid" ] && [ -n "$win" ] && break
    sleep 0.1
  done
  check "the window started" '[ -n "$wpid" ] && [ -n "$win" ]'
  if [ -n "$win" ]; then
    check "the window holds no capability (CapEff $(caps "$wpid" CapEff), CapPrm $(caps "$wpid" CapPrm))" \
      '[ "$(caps "$wpid" CapEff)" = 0000000000000000 ] && [ "$(caps "$wpid" CapPrm)" = 0000000000000000 ]'
    # Start: the first adapter listed is the veth (up and addressed, listed
    # before loopback). A click that comes before the window takes input is
    # lost, so it is repeated until the capture runs.
    whpid=""
    for _ in 1 2 3; do
      xdotool mousemove --window "$win" 16 16 click 1
      for _ in $(seq 30); do
        whpid=$(helper_of "$wpid")
        [ -n "$whpid" ] && break 2
        sleep 0.1
      done
    done
    pinging 15
    written=0
    for _ in $(seq 100); do
      [ -n "$whpid" ] && written=$(sed -n 's/^wchar: //p' "/proc/$whpid/io" 2>/dev/null)
      [ "${written:-0}" -gt 2000 ] && break
      sleep 0.1
    done
    check "the window's helper holds CAP_NET_RAW alone" '[ -n "$whpid" ] && [ "$(caps "$whpid" CapEff)" = 0000000000002000 ]'
    check "the window's helper handed it the pings ($written bytes)" '[ "${written:-0}" -gt 2000 ]'
    check "the capturing window still holds no capability" '[ "$(caps "$wpid" CapEff)" = 0000000000000000 ]'
    grep -q "Error" "$work/window.log" && cat "$work/window.log"
  fi
else
  echo "note: Xvfb or xdotool missing, the window part is left out"
fi

exit $fail
