#!/usr/bin/env bash
# The Windows on Arm packages, Orvane-arm64.msi and Orvane-arm64-user.msi, read back from
# Linux, where no Windows Installer runs them: each is an Arm64 package as Windows Installer
# requires one (the summary's platform "Arm64", installer version 500 or more, every
# component 64-bit), every file it installs and its custom action's DLL are ARM64 PE files,
# its sparse package is the arm64 one, and its launch conditions make an x64 or x86 Orvane
# go first but do not refuse Windows on Arm, which the x64 and x86 packages do.
#   check_arm64_msi.sh ARM64_BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: check_arm64_msi.sh ARM64_BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
readobj=$(command -v llvm-readobj || command -v llvm-readobj-14) || {
  echo "llvm-readobj (Debian's llvm) is needed to read the files' headers"
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/tests/support/check.sh"
machine() { "$readobj" --file-headers "$1" 2>/dev/null | sed -n 's/^ *Machine: .*(\(0x[0-9A-Fa-f]*\)).*/\1/p' | head -n 1; }
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }

for flag in "" --per-user; do
  msi=$(bash "$root/installer/build.sh" $flag arm64 "$build") || { check "build.sh $flag arm64" 0 1; continue; }
  name=$(basename "$msi")
  echo "== $name"
  summary=$(msiinfo suminfo "$msi")
  check "$name: the summary's platform" "Arm64;1033" "$(sed -n 's/^Template: //p' <<<"$summary")"
  check "$name: installer version 500 or more" yes \
    "$([ "$(sed -n 's/^Version: \([0-9]*\).*/\1/p' <<<"$summary")" -ge 500 ] && echo yes || echo no)"
  # msidbComponentAttributes64bit (256) on every component.
  check "$name: every component is 64-bit" "" \
    "$(table "$msi" Component | awk -F'\t' 'int($4 / 256) % 2 != 1 { print $1 }' | tr '\n' ' ')"

  # The files it installs, unpacked from its cabinet, and its custom action's DLL.
  rm -rf "$work/files" && mkdir -p "$work/files"
  (cd "$work/files" && msiextract "$msi" >/dev/null) || check "$name: msiextract" 0 1
  found=$(find "$work/files" -type f \( -name '*.dll' -o -name '*.exe' \) -printf '%f\n' | sort | tr '\n' ' ' | sed 's/ $//')
  check "$name: the programs and DLLs it installs" "orvane-dialog.exe orvane.dll orvane.exe" "$found"
  msiinfo extract "$msi" Binary.OrvaneSetup >"$work/orvane-setup.dll"
  while IFS= read -r -d '' file; do
    check "$name: $(basename "$file") is an ARM64 file" 0xAA64 "$(machine "$file" | tr a-f A-F | sed 's/^0X/0x/')"
  done < <(find "$work/files" "$work/orvane-setup.dll" -type f \( -name '*.dll' -o -name '*.exe' \) -print0)
  check "$name: the sparse package it installs is the arm64 one" 'ProcessorArchitecture="arm64"' \
    "$(python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read("AppxManifest.xml").decode())' \
       "$(find "$work/files" -name 'Orvane-arm64.msix' | head -n 1)" 2>/dev/null | grep -o 'ProcessorArchitecture="[^"]*"')"

  conditions=$(table "$msi" LaunchCondition)
  check "$name: an x64 and an x86 Orvane go first" "NOT OTHERARCHITECTUREINSTALLED OR Installed
NOT THIRDARCHITECTUREINSTALLED OR Installed" "$(cut -f1 <<<"$conditions" | grep ARCHITECTUREINSTALLED | sort)"
  check "$name: Windows on Arm is not refused" 0 "$(grep -c ORVANE_NATIVE_MACHINE <<<"$conditions")"
  detected=$(table "$msi" Upgrade | awk -F'\t' '{ print $7 }' | grep ARCHITECTUREINSTALLED | sort | tr '\n' ' ')
  check "$name: both are looked for" "OTHERARCHITECTUREINSTALLED THIRDARCHITECTUREINSTALLED " "$detected"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
