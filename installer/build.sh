#!/usr/bin/env bash
# Builds the Windows Installer package for one architecture from a finished build:
#   installer/build.sh ARCH ARCH_BUILD_DIR [OUTPUT]  ->  ARCH_BUILD_DIR/Orvane-ARCH.msi
# or, with --per-user, the package that installs for one user without administrator
# rights (OrvaneUser.wxs):
#   installer/build.sh --per-user ARCH ARCH_BUILD_DIR [OUTPUT]  ->  ARCH_BUILD_DIR/Orvane-ARCH-user.msi
# (ARCH is x64 or x86; ARCH_BUILD_DIR holds server/orvane.dll, cli/orvane.exe,
# installer/action/orvane-setup.dll (the custom action for the package) and
# ExtensionClsid.txt, the class identifier's text that configuring the build wrote from
# common/ExtensionIdentity.h.)
# ORVANE_VERSION sets the product version (default 1.0.0).
set -euo pipefail
source_file=Orvane.wxs
suffix=
if [ "${1:-}" = --per-user ]; then
  source_file=OrvaneUser.wxs
  suffix=-user
  shift
fi
arch=${1:?usage: build.sh x64|x86 ARCH_BUILD_DIR}
build=${2:?usage: build.sh x64|x86 ARCH_BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
version=${ORVANE_VERSION:-1.0.0}

case $arch in
  x64) wixl_arch=x64 ;;
  x86) wixl_arch=x86 ;;
  *) echo "build.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
dll=$build/server/orvane.dll
exe=$build/cli/orvane.exe
setup_dll=$build/installer/action/orvane-setup.dll
clsid_file=$build/ExtensionClsid.txt
for f in "$dll" "$exe" "$setup_dll" "$clsid_file"; do
  [ -f "$f" ] || { echo "build.sh: $f is missing; build $arch first" >&2; exit 1; }
done
clsid=$(tr -d '\r\n' <"$clsid_file")
if ! [[ $clsid =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$ ]]; then
  echo "build.sh: $clsid_file holds no class identifier ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}): '$clsid'" >&2
  exit 1
fi

# wixl takes file sources relative to its working folder: stage the files.
stage=$build/installer-stage-$$
rm -rf "$stage"
mkdir -p "$stage"
cp "$dll" "$exe" "$setup_dll" "$stage/"
out=${3:-$build/Orvane-$arch$suffix.msi}
case $out in /*) ;; *) out=$PWD/$out ;; esac
(cd "$stage" && wixl -a "$wixl_arch" -o "$out.tmp" \
  -D Arch="$arch" -D Version="$version" -D Clsid="$clsid" -D DllPath=orvane.dll -D ExePath=orvane.exe -D SetupDllPath=orvane-setup.dll \
  "$here/$source_file")
mv "$out.tmp" "$out"
rm -rf "$stage"
echo "$out"
