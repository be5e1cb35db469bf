#!/usr/bin/env bash
# Builds and signs the sparse package that puts "Change Icon..." into Windows 11's own
# context menu:
#   installer/package.sh ARCH ARCH_BUILD_DIR [OUTPUT_DIR]  ->  OUTPUT_DIR/Orvane-ARCH.msix
# (OUTPUT_DIR defaults to ARCH_BUILD_DIR; ARCH is x64, x86 or arm64, the manifest's
# ProcessorArchitecture.) The package holds the
# manifest (AppxManifest.xml here, filled in), its images, the block map and the content
# types, and is signed with osslsigncode.
#
# Signing (installer/signing.sh): with ORVANE_SIGN_PFX and ORVANE_SIGN_PASSWORD, the
# publisher's certificate; a certificate that does not load stops the build with its
# reason and leaves no package. Without them, a throwaway self-signed certificate whose
# private key is deleted once the package is signed; its public part is kept as
# OUTPUT_DIR/Orvane-ARCH.cer, which the installers trust for the package. A package signed
# with a publisher's certificate comes without a .cer: Windows trusts it through the
# publisher's certificate authority.
#
# The package's Publisher is the certificate's subject exactly (Windows refuses a package
# whose Publisher and signer differ), its Version ORVANE_VERSION (default 1.0.0) with four
# parts, and its verb class the Explorer command's, read from ARCH_BUILD_DIR/
# ExplorerCommandClsid.txt that configuring the build writes.
set -euo pipefail
arch=${1:?usage: package.sh x64|x86|arm64 ARCH_BUILD_DIR [OUTPUT_DIR]}
build=${2:?usage: package.sh x64|x86|arm64 ARCH_BUILD_DIR [OUTPUT_DIR]}
out_dir=${3:-$build}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
source "$here/signing.sh"

case $arch in
  x64 | x86 | arm64) ;;
  *) echo "package.sh: unknown architecture $arch" >&2; exit 2 ;;
esac

# The product's version with four parts, each 0-65535, as a package's Version must have.
version=${ORVANE_VERSION:-1.0.0}
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]]; then
  echo "package.sh: ORVANE_VERSION '$version' is not a version of one to four numbers" >&2
  exit 1
fi
IFS=. read -r -a parts <<<"$version"
while [ "${#parts[@]}" -lt 4 ]; do parts+=(0); done
for p in "${parts[@]}"; do
  if [ "${#p}" -gt 5 ] || [ "$((10#$p))" -gt 65535 ]; then
    echo "package.sh: ORVANE_VERSION '$version' has a part above 65535" >&2
    exit 1
  fi
done
version_quad=$((10#${parts[0]})).$((10#${parts[1]})).$((10#${parts[2]})).$((10#${parts[3]}))

# The Explorer command's class identifier, without braces (the manifest's GUID form), as
# configuring the build wrote it (cmake/ExtensionClsid.cmake).
clsid_file=$build/ExplorerCommandClsid.txt
clsid=
if [ -f "$clsid_file" ]; then clsid=$(tr -d '\r\n{}' <"$clsid_file"); fi
if ! [[ $clsid =~ ^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$ ]]; then
  echo "package.sh: no Explorer command class identifier in $clsid_file: configure the build ($arch) first" >&2
  exit 1
fi

mkdir -p "$out_dir"
msix=$out_dir/Orvane-$arch.msix
cer=$out_dir/Orvane-$arch.cer
# An earlier build's package or certificate must not outlive a failed one.
rm -f "$msix" "$cer"
if [ -n "${ORVANE_SIGN_PFX:-}" ]; then
  signing_load || exit 1
else
  signing_load_throwaway || exit 1
fi
trap signing_end EXIT
python3 "$here/make_msix.py" "$here/AppxManifest.xml" "$msix.unsigned" --icon "$root/resources/orvane.ico" \
  --publisher "$SIGN_SUBJECT" --version "$version_quad" --arch "$arch" --clsid "$clsid"
mv "$msix.unsigned" "$msix"
sign_file "$msix" || exit 1
if [ -n "$SIGN_THROWAWAY" ]; then
  openssl x509 -in "$SIGN_CERT_PEM" -outform DER -out "$cer.tmp"
  mv "$cer.tmp" "$cer"
fi
signing_end
echo "$msix"
