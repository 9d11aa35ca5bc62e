#!/bin/sh
# Lets the members of the group netvane (and root) capture: the capture
# helper given as the argument becomes root:netvane, mode 0750, with the file
# capability cap_net_raw=ep and no other. The group is created when missing.
# Run as root; the package's post-install step does the same.
#
# Root is about to give a right to whatever file the path names, so the path
# must be one that only root controls: it is refused when it is a symbolic
# link or not a regular file owned by root, or when any directory on the way
# to it is not owned by root or may be written by anyone else (a directory
# with the sticky bit, such as /var/tmp, may: no one else can replace what
# root keeps in it).
set -eu
helper=${1:?usage: grant-capture-right.sh HELPER}
refuse() {
  echo "grant-capture-right.sh: refusing $helper: $*" >&2
  exit 1
}
[ "$(id -u)" = 0 ] || { echo "grant-capture-right.sh: needs root" >&2; exit 1; }
[ -L "$helper" ] && refuse "it is a symbolic link"
[ -f "$helper" ] || refuse "it is not a regular file"
[ "$(stat -c %u "$helper")" = 0 ] || refuse "it is not owned by root"

# Every directory from / down to the helper's own, as the kernel resolves them.
dir=$(cd "$(dirname "$helper")" && pwd -P) || refuse "its directory cannot be resolved"
case $dir in /*) ;; *) refuse "its directory cannot be resolved" ;; esac
path=$dir
while :; do
  set -- $(stat -c '%u %a' "$path")
  owner=$1
  mode=$2
  [ "$owner" = 0 ] || refuse "$path is not owned by root"
  # Group or others may write: only acceptable with the sticky bit.
  if [ $((0$mode & 022)) != 0 ] && [ $((0$mode & 01000)) = 0 ]; then
    refuse "$path may be written by users other than root"
  fi
  [ "$path" = / ] && break
  path=$(dirname "$path")
done
# The directory as resolved above, so nothing on the way can change now.
helper=$dir/$(basename "$helper")
[ -L "$helper" ] && refuse "it is a symbolic link"

getent group netvane >/dev/null || groupadd --system netvane
chown root:netvane "$helper"
chmod 0750 "$helper"
# Ownership changes clear file capabilities, so they come last.
setcap cap_net_raw=ep "$helper"
