#!/usr/bin/env bash
# Checks the files of the arm64 (Windows on Arm) build from Linux, where nothing runs them:
# each is an ARM64 PE file (machine 0xAA64) of its kind (DLL or program), each program has
# its subsystem (console or GUI), the DLL exports exactly what server/orvane.def names, among them COM's four
# entry points, and each imports only Windows system DLLs (check_imports.sh).
#   bash tests/check_arm64.sh [BUILD_FOLDER]      (default: build/arm64)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
dir=${1:-$root/build/arm64}
readobj=$(command -v llvm-readobj || command -v llvm-readobj-14) || {
  echo "llvm-readobj (Debian's llvm) is needed to read the files' headers"
  exit 1
}
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# FILE, dll or exe, and for a program the subsystem the build gives it
# (IMAGE_SUBSYSTEM_WINDOWS_GUI or _CUI). A DLL's subsystem means nothing to the loader, and
# the linkers differ there (GNU ld writes CUI, lld GUI): it is not checked.
check_file() {
  local file=$1 kind=$2 subsystem=${3:-} headers machine found
  if [ ! -f "$file" ]; then
    fail "$file is missing"
    return
  fi
  if ! headers=$("$readobj" --file-headers "$file" 2>&1); then
    fail "$file is not a file llvm-readobj reads: $headers"
    return
  fi
  machine=$(sed -n 's/^ *Machine: .*(\(0x[0-9A-Fa-f]*\)).*/\1/p' <<<"$headers" | head -n 1)
  [ "${machine,,}" = 0xaa64 ] || fail "$(basename "$file"): machine ${machine:-unknown}, not ARM64 (0xAA64)"
  found=$(sed -n 's/^ *Subsystem: \(IMAGE_SUBSYSTEM_[A-Z_]*\).*/\1/p' <<<"$headers" | head -n 1)
  [ -z "$subsystem" ] || [ "$found" = "$subsystem" ] || fail "$(basename "$file"): subsystem ${found:-unknown}, not $subsystem"
  # IMAGE_FILE_DLL is among the COFF header's characteristics of a DLL and of nothing else.
  if grep -q 'IMAGE_FILE_DLL ' <<<"$headers"; then
    [ "$kind" = dll ] || fail "$(basename "$file") is marked as a DLL"
  else
    [ "$kind" = exe ] || fail "$(basename "$file") is not marked as a DLL"
  fi
  bash "$here/check_imports.sh" "$file" || fail "$(basename "$file") imports a DLL that Windows does not ship"
  echo "$(basename "$file"): machine $machine, $found, $kind"
}

dll=$dir/server/orvane.dll
check_file "$dll" dll
check_file "$dir/cli/orvane.exe" exe IMAGE_SUBSYSTEM_WINDOWS_CUI
check_file "$dir/app/orvane-dialog.exe" exe IMAGE_SUBSYSTEM_WINDOWS_GUI
check_file "$dir/installer/action/orvane-setup.dll" dll

if [ -f "$dll" ]; then
  # The names after EXPORTS in the .def file, one word each, against the DLL's export table.
  wanted=$(awk 'toupper($1) == "EXPORTS" { on = 1; next } on && NF && $1 !~ /^;/ { print $1 }' \
    "$root/server/orvane.def" | sort)
  # lld 14 starts the ordinals at 0 and leaves that slot empty (no name, no address): only
  # named entries are exports.
  exported=$("$readobj" --coff-exports "$dll" | sed -n 's/^ *Name: \(..*\)$/\1/p' | sort)
  echo "exports of orvane.dll:" $exported
  [ -n "$exported" ] || fail "orvane.dll exports nothing"
  [ "$exported" = "$wanted" ] || fail "orvane.dll exports [$(echo $exported)], orvane.def names [$(echo $wanted)]"
  for name in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
    grep -qx "$name" <<<"$exported" || fail "orvane.dll does not export $name"
  done
fi

[ "$failed" -eq 0 ] && echo "arm64 files: all checks passed"
exit "$failed"
