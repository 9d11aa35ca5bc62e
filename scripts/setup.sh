#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Netvane.
# Packages already present are skipped, so a second run costs only the dpkg query.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format make pkg-config dpkg-dev file libcap2-bin
  qt6-base-dev libgl-dev libpcap-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libclang-rt-14-dev
  xvfb xauth iproute2 iputils-ping netcat-openbsd procps passwd
  openssh-client openssh-server
  xdotool x11-apps python3 desktop-file-utils
  tcpdump  # the independent reader that netvane-dump's filtered output is checked against
  nftables  # drops segments on both sides of the capturing point in the followed-stream test
  fonts-dejavu-core fonts-dejavu-extra
  qt6ct
)
if [ "${NETVANE_BENCH_TOOLS:-0}" = 1 ]; then
  packages+=(tcpreplay tshark time)
fi
# What `make package` checks the package with (lintian, hardening-check).
if [ "${NETVANE_PACKAGE_TOOLS:-0}" = 1 ]; then
  packages+=(lintian devscripts)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
