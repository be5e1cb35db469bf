#!/usr/bin/env bash
# Fails when the given PE file imports a DLL that Windows itself does not ship.
set -u
file=$1
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
imports=$("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports of $(basename "$file"):" $imports
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|msvcrt|uuid|api-ms-win-.*)\.dll$'
bad=$(printf '%s\n' $imports | grep -vE "$allowed")
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
[ -n "$imports" ] || { echo "no import table read"; exit 1; }
