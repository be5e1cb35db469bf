#!/usr/bin/env bash
# Fails when the store, the dialog, the server or the dialog's program calls an 8-bit
# platform function: every path and text stays UTF-16 from the selection to the registry
# and the screen. The 8-bit icon interface converts with WideCharToMultiByte, which has no
# 8-bit twin.
set -u
nm=$(command -v x86_64-w64-mingw32-nm || command -v nm)
status=0
for file in "$@"; do
  case $file in *.res) continue ;; esac  # the compiled resources hold no code
  calls=$("$nm" -u "$file" 2>/dev/null | sed -n 's/^.* U __imp_\(_\?\)\([A-Za-z0-9_]*[a-z0-9]A\)\(@[0-9]*\)\?$/\2/p' | sort -u)
  count=$("$nm" -u "$file" 2>/dev/null | grep -c '__imp_')
  echo "$(basename "$file"): $count platform calls"
  [ "$count" -gt 0 ] || { echo "  no import read"; status=1; }
  if [ -n "$calls" ]; then
    echo "  8-bit calls:" $calls
    status=1
  fi
done
exit $status
