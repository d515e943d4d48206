#!/usr/bin/env bash
# Installs the Debian 12 packages merkat32 needs to build, test and run, when
# they are missing. Non-interactive; uses sudo when not run as root.
set -euo pipefail
packages=(
  build-essential cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox xdotool x11-utils imagemagick gcovr python3
  g++-mingw-w64-x86-64-posix wine wine64
  dpkg-dev lintian appstream nsis zip
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q -o DPkg::Lock::Timeout=300 "${missing[@]}"
fi
