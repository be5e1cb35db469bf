#!/usr/bin/env bash
# Installs what building and testing Orvane needs from Debian's packages.
# Idempotent: packages already present are not reinstalled. Installing needs root; a run
# without root that finds everything present succeeds, one that would install stops.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# The version of a package that apt would install ("" when it knows none).
candidate() { apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '^(none)$' || true; }
# The major version of the installed clang ("" without one).
clang_major() { { clang --version 2>/dev/null || true; } | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1; }

packages=(
  cmake make ninja-build
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine
  xvfb x11-apps xdotool imagemagick
  googletest
  clang
  wixl msitools
  osslsigncode openssl libxml2-utils
  icoutils
)

# clang's sanitizer and libFuzzer runtime comes in a package named after clang's major
# version (libclang-rt-14-dev on Debian 12). The release's own libclang-rt-dev depends on
# the one that matches its default clang; it is taken when the release has it, else the
# one named after the installed (or to be installed) clang, if the release has that
# (older releases ship the runtime within clang's own packages).
runtime_present() {
  local major
  major=$(clang_major)
  have libclang-rt-dev || { [ -n "$major" ] && have "libclang-rt-$major-dev"; }
}
runtime_package() {
  local major
  if [ -n "$(candidate libclang-rt-dev)" ]; then
    echo libclang-rt-dev
    return
  fi
  major=$(clang_major)
  [ -n "$major" ] || major=$(candidate clang | sed -n 's/^\([0-9]*:\)\{0,1\}\([0-9][0-9]*\).*/\2/p')
  if [ -n "$major" ] && [ -n "$(candidate "libclang-rt-$major-dev")" ]; then
    echo "libclang-rt-$major-dev"
  fi
}

i386_missing=
dpkg --print-foreign-architectures | grep -qx i386 || i386_missing=1
for p in "${packages[@]}" wine32:i386; do
  have "$p" || need+=("$p")
done
runtime_present || need_runtime=1

# Signing an MSIX package came with osslsigncode 2.7; Debian 12's own archive has 2.5
# (bookworm-backports has a newer one).
osslsigncode_version() { { osslsigncode --version 2>/dev/null || true; } | sed -n '1s/^osslsigncode \([0-9][0-9.]*\).*/\1/p'; }
check_osslsigncode() {
  local found
  found=$(osslsigncode_version)
  if [ -z "$found" ] || ! printf '%s\n' 2.7 "$found" | sort -V -C; then
    echo "setup: osslsigncode 2.7 or later is needed to sign the Windows 11 package (found ${found:-none}); on Debian 12: apt-get install -t bookworm-backports osslsigncode" >&2
    return 1
  fi
}

if [ "${#need[@]}" -eq 0 ] && [ -z "$i386_missing" ] && [ -z "${need_runtime:-}" ]; then
  check_osslsigncode
  echo "setup: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: not root, so cannot install what is missing (${need[*]}${need_runtime:+ the sanitizer runtime of clang}${i386_missing:+ and the i386 architecture}): run scripts/setup.sh as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ -n "$i386_missing" ]; then
  dpkg --add-architecture i386
fi
apt-get update -qq
if [ -n "${need_runtime:-}" ]; then
  runtime=$(runtime_package)
  [ -z "$runtime" ] || need+=("$runtime")
fi
if [ "${#need[@]}" -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
check_osslsigncode
echo "setup: all packages present"
