#!/usr/bin/env bash
# Installs what building and testing Orvane needs from Debian's packages.
# Idempotent: packages already present are not reinstalled. Installing needs root; a run
# without root that finds everything present succeeds, one that would install stops.
# Signing the Windows 11 package needs osslsigncode 2.7 or later: where the release's own
# is older (Debian 12 has 2.5), its backports suite is enabled for that one package.
set -euo pipefail
source "$(dirname "$0")/apt-sources.sh"

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
  python3 python3-jsonschema python3-yaml
)
# `setup.sh arm64` adds what scripts/arm64-toolchain.sh needs to make the Windows on Arm
# toolchain from Debian's source packages: lld, LLVM's tools (llvm-ar, llvm-dlltool,
# llvm-windres, llvm-readobj), dpkg-source and the unpackers of the source tarballs.
if [ "${1:-}" = arm64 ]; then
  packages+=(lld llvm dpkg-dev bzip2 xz-utils)
fi
# `setup.sh emulated` adds what scripts/arm64-emulated.sh needs to run the arm64 test
# programs on an x86-64 machine: qemu's user-mode emulator (registered with binfmt_misc,
# so that the arm64 root's programs run as they are) and debootstrap to make that root;
# building the arm64 programs also needs what `setup.sh arm64` adds.
if [ "${1:-}" = emulated ]; then
  packages+=(lld llvm dpkg-dev bzip2 xz-utils qemu-user-static debootstrap)
fi

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

# Signing an MSIX package came with osslsigncode 2.7.
osslsigncode_version() { { osslsigncode --version 2>/dev/null || true; } | sed -n '1s/^osslsigncode \([0-9][0-9.]*\).*/\1/p'; }
at_least_2_7() { [ -n "$1" ] && printf '%s\n' 2.7 "$1" | sort -V -C; }
osslsigncode_ok() { at_least_2_7 "$(osslsigncode_version)"; }
old_osslsigncode=
have osslsigncode && ! osslsigncode_ok && old_osslsigncode=$(osslsigncode_version)

# Debian keeps newer builds of some packages in the release's backports suite
# (bookworm-backports for Debian 12). Where the release's own osslsigncode is older than
# 2.7, that suite is enabled from the mirror this machine already takes the release from,
# in a sources entry of its own, and pinned so that apt takes osslsigncode from it and
# nothing else. Deleting the two files undoes it.
backports_sources=/etc/apt/sources.list.d/orvane-backports.sources
backports_pin=/etc/apt/preferences.d/orvane-backports
debian_codename() { (. /etc/os-release && [ "${ID:-}" = debian ] && echo "${VERSION_CODENAME:-}") 2>/dev/null || true; }
enable_backports() {
  local release=$1 suite=$1-backports entry uri signed ours=1
  if apt_entries "$backports_sources" | awk -F'\t' -v s="$suite" '$2 == s { found = 1 } END { exit !found }'; then
    # Someone's own entry: apt's default for backports stays as they have it.
    ours=
    echo "setup: $suite is among this machine's sources already; pinning osslsigncode to it ($backports_pin)"
  else
    entry=$(apt_entries "$backports_sources" | awk -F'\t' -v s="$release" '$2 == s { print; exit }')
    if [ -z "$entry" ]; then
      echo "setup: no source of $release in /etc/apt to take $suite from" >&2
      return 1
    fi
    uri=$(cut -f1 <<<"$entry")
    signed=$(cut -f3 <<<"$entry")
    echo "setup: enabling $suite from $uri for osslsigncode ($backports_sources, pinned in $backports_pin)"
    {
      echo "# Written by Orvane's scripts/setup.sh for osslsigncode 2.7 or later, the only"
      echo "# package taken from here ($backports_pin). Delete both files to undo."
      echo "Types: deb"
      echo "URIs: $uri"
      echo "Suites: $suite"
      echo "Components: main"
      [ "$signed" = - ] || echo "Signed-By: $signed"
    } >"$backports_sources"
  fi
  # A pin naming the package counts before the one for every package, whatever the order.
  {
    echo "# Written by Orvane's scripts/setup.sh: osslsigncode from $suite${ours:+, nothing else}."
    echo "Package: osslsigncode"
    echo "Pin: release n=$suite"
    echo "Pin-Priority: 500"
    if [ -n "$ours" ]; then
      echo
      echo "Package: *"
      echo "Pin: release n=$suite"
      echo "Pin-Priority: -1"
    fi
  } >"$backports_pin"
}

if [ "${#need[@]}" -eq 0 ] && [ -z "$i386_missing" ] && [ -z "${need_runtime:-}" ] && [ -z "$old_osslsigncode" ]; then
  echo "setup: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  missing="${need[*]}${need_runtime:+ the sanitizer runtime of clang}${i386_missing:+ and the i386 architecture}"
  missing="${missing}${old_osslsigncode:+ osslsigncode 2.7 or later (found $old_osslsigncode)}"
  echo "setup: not root, so cannot install what is missing (${missing# }): run scripts/setup.sh as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails an index or two ("File has unexpected size"): the update
# is tried again after a pause, and when it still fails the install goes on with the
# indexes apt has, failing only if what is needed cannot be found in them.
refresh_indexes() {
  local attempt
  for attempt in 1 2 3; do
    apt-get update -qq && return 0
    [ "$attempt" -eq 3 ] || { echo "setup: apt-get update failed; trying again in 30 s" >&2; sleep 30; }
  done
  echo "setup: apt-get update failed three times; going on with the indexes apt has" >&2
}
if [ -n "$i386_missing" ]; then
  dpkg --add-architecture i386
fi
refresh_indexes
[ -z "$old_osslsigncode" ] || need+=(osslsigncode)
if ! osslsigncode_ok && ! at_least_2_7 "$(candidate osslsigncode | sed 's/^[0-9]*://')"; then
  release=$(debian_codename)
  if [ -n "$release" ]; then
    enable_backports "$release"
    refresh_indexes
  fi
fi
if [ -n "${need_runtime:-}" ]; then
  runtime=$(runtime_package)
  [ -z "$runtime" ] || need+=("$runtime")
fi
if [ "${#need[@]}" -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  if ! apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    # The i386 indexes come apart from the others: when they could not be fetched, the
    # 32-bit Wine cannot be installed in step with the 64-bit one. Everything else still
    # is; without wine32 the x86 test programs cannot be run (test.sh says so).
    rest=()
    for p in "${need[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
    [ "${#rest[@]}" -lt "${#need[@]}" ] || exit 1
    echo "setup: could not install wine32:i386 with the rest; installing the rest without it" >&2
    apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
  fi
fi
found=$(osslsigncode_version)
if ! at_least_2_7 "$found"; then
  echo "setup: osslsigncode 2.7 or later is needed to sign the Windows 11 package (found ${found:-none}," \
    "and apt's sources offer no newer one)" >&2
  exit 1
fi
echo "setup: all packages present"
