#!/usr/bin/env bash
# Fails when the given PE file imports a DLL that Windows itself does not ship.
set -u
file=$1
# MinGW's objdump reads x64 and x86 files; an ARM64 one (Windows on Arm) is read with
# LLVM's, which MinGW's does not know.
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
if ! headers=$("$objdump" -p "$file" 2>/dev/null); then
  objdump=$(command -v llvm-objdump || command -v llvm-objdump-14) && headers=$("$objdump" -p "$file")
fi
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
echo "imports of $(basename "$file"):" $imports
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|crypt32|msvcrt|uuid|api-ms-win-.*)\.dll$'
bad=$(printf '%s\n' $imports | grep -vE "$allowed")
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
[ -n "$imports" ] || { echo "no import table read"; exit 1; }
