#!/usr/bin/env bash
# Builds the Windows Installer package for one architecture from a finished build:
#   installer/build.sh ARCH ARCH_BUILD_DIR [OUTPUT]  ->  ARCH_BUILD_DIR/Orvane-ARCH.msi
# or, with --per-user, the package that installs for one user without administrator
# rights (OrvaneUser.wxs):
#   installer/build.sh --per-user ARCH ARCH_BUILD_DIR [OUTPUT]  ->  ARCH_BUILD_DIR/Orvane-ARCH-user.msi
# (ARCH is x64, x86 or arm64; ARCH_BUILD_DIR holds server/orvane.dll, cli/orvane.exe,
# app/orvane-dialog.exe, installer/action/orvane-setup.dll (the custom action for the
# package) and ExtensionClsid.txt, the class identifier's text that configuring the build wrote from
# common/ExtensionIdentity.h.)
# ORVANE_VERSION sets the product version (default 1.0.0).
# The sparse package for Windows 11's context menu is made first (package.sh), beside the
# MSI. With a publisher's certificate (ORVANE_SIGN_PFX and ORVANE_SIGN_PASSWORD, see
# signing.sh) every DLL and program the MSI installs and the MSI itself are signed too
# (Authenticode); a certificate that does not load stops the build before anything is
# made, and a file that cannot be signed leaves no MSI behind.
set -euo pipefail
source_file=Orvane.wxs
suffix=
if [ "${1:-}" = --per-user ]; then
  source_file=OrvaneUser.wxs
  suffix=-user
  shift
fi
arch=${1:?usage: build.sh x64|x86|arm64 ARCH_BUILD_DIR}
build=${2:?usage: build.sh x64|x86|arm64 ARCH_BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
version=${ORVANE_VERSION:-1.0.0}

# wixl knows no arm64: an arm64 package is built as a 64-bit one (its components 64-bit,
# Program Files the 64-bit one) and its summary's platform then made "Arm64", which is
# what Windows Installer reads; the .wxs gives it the installer version 500 that Arm64
# packages need.
case $arch in
  x64 | arm64) wixl_arch=x64 ;;
  x86) wixl_arch=x86 ;;
  *) echo "build.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
dll=$build/server/orvane.dll
exe=$build/cli/orvane.exe
dialog_exe=$build/app/orvane-dialog.exe
setup_dll=$build/installer/action/orvane-setup.dll
clsid_file=$build/ExtensionClsid.txt
for f in "$dll" "$exe" "$dialog_exe" "$setup_dll" "$clsid_file"; do
  [ -f "$f" ] || { echo "build.sh: $f is missing; build $arch first" >&2; exit 1; }
done
clsid=$(tr -d '\r\n' <"$clsid_file")
if ! [[ $clsid =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$ ]]; then
  echo "build.sh: $clsid_file holds no class identifier ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}): '$clsid'" >&2
  exit 1
fi
out=${3:-$build/Orvane-$arch$suffix.msi}
case $out in /*) ;; *) out=$PWD/$out ;; esac
package_dir=$(dirname "$out")
# An earlier build's MSI and package must not outlive a failed one.
rm -f "$out" "$package_dir/Orvane-$arch.msix" "$package_dir/Orvane-$arch.cer"
source "$here/signing.sh"
publisher_signing=
if [ -n "${ORVANE_SIGN_PFX:-}" ]; then
  signing_load || exit 1
  publisher_signing=1
  trap signing_end EXIT
fi
bash "$here/package.sh" "$arch" "$build" "$package_dir" >/dev/null

# wixl takes file sources relative to its working folder: stage the files.
stage=$build/installer-stage-$$
rm -rf "$stage"
mkdir -p "$stage"
cp "$dll" "$exe" "$dialog_exe" "$setup_dll" "$stage/"
if [ -n "$publisher_signing" ]; then
  for f in "$stage"/*.dll "$stage"/*.exe; do
    [ -e "$f" ] || continue
    sign_file "$f" || { rm -rf "$stage"; exit 1; }
  done
fi
# The package goes with the files it names; its throwaway certificate, when the build made
# one, goes with it for the installer to trust.
cp "$package_dir/Orvane-$arch.msix" "$stage/"
with_certificate=no
if [ -f "$package_dir/Orvane-$arch.cer" ]; then
  cp "$package_dir/Orvane-$arch.cer" "$stage/"
  with_certificate=yes
fi
(cd "$stage" && wixl -a "$wixl_arch" -o "$out.tmp" \
  -D Arch="$arch" -D Version="$version" -D Clsid="$clsid" -D DllPath=orvane.dll -D ExePath=orvane.exe \
  -D DialogExePath=orvane-dialog.exe -D SetupDllPath=orvane-setup.dll \
  -D PackagePath="Orvane-$arch.msix" -D WithCertificate=$with_certificate \
  "$here/$source_file")
rm -rf "$stage"
if [ "$arch" = arm64 ]; then
  summary=$(msiinfo suminfo "$out.tmp")
  msibuild "$out.tmp" -s "$(sed -n 's/^Subject: //p' <<<"$summary")" "$(sed -n 's/^Author: //p' <<<"$summary")" \
    "Arm64;$(sed -n 's/^Template: [^;]*;//p' <<<"$summary")"
fi
if [ -n "$publisher_signing" ]; then
  sign_file "$out.tmp" || exit 1
fi
mv "$out.tmp" "$out"
echo "$out"
