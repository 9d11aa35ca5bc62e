#!/bin/sh
# Lets the members of the group netvane (and root) capture: the capture
# helper given as the argument becomes root:netvane, mode 0750, with the file
# capability cap_net_raw=ep and no other. The group is created when missing.
# Run as root; the package's post-install step does the same.
set -e
helper=${1:?usage: grant-capture-right.sh HELPER}
[ "$(id -u)" = 0 ] || { echo "grant-capture-right.sh: needs root" >&2; exit 1; }
getent group netvane >/dev/null || groupadd --system netvane
chown root:netvane "$helper"
chmod 0750 "$helper"
# Ownership changes clear file capabilities, so they come last.
setcap cap_net_raw=ep "$helper"
