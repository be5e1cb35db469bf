#!/usr/bin/env bash
# Installs what building and testing Orvane needs from Debian's packages.
# Idempotent: packages already present are not reinstalled. Runs as root.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages=(
  cmake make ninja-build
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine
  xvfb x11-apps xdotool imagemagick
  googletest
  clang libclang-rt-14-dev
  wixl msitools
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  added_arch=1
fi

for p in "${packages[@]}" wine32:i386; do
  have "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ] || [ -n "${added_arch:-}" ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
echo "setup: all packages present"
