#!/usr/bin/env bash
# Two computers: icons given in one Wine prefix (a folder's for all users, a folder's
# colour for this user, a file's own icon and its type's) are exported with orvane.exe and
# imported into a fresh prefix whose folders live on another drive letter (P:), with
# --map, first for all users and then for this user. There orvane show names each
# imported icon in the scope asked, a second import changes nothing, and restore returns
# each target to that prefix's own original: a folder's own Desktop.ini byte for byte, an
# empty folder empty again, the type's own icon.
#   test_two_computers.sh ARCH ARCH_BUILD_DIR
# Both prefixes are the test's own, made afresh each run (ARCH_BUILD_DIR/../
# wineprefix-transfer-a and -b), and go again at the end, with the folders made for them.
set -uo pipefail
arch=${1:?usage: test_two_computers.sh x64|x86 ARCH_BUILD_DIR}
build=$(cd "${2:?usage: test_two_computers.sh x64|x86 ARCH_BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/common.sh"

orvane=$build/cli/orvane.exe
[ -f "$orvane" ] || { echo "$orvane is missing: build $arch first"; exit 1; }
base=$(dirname "$build")
first=$base/wineprefix-transfer-a
second=$base/wineprefix-transfer-b
drive=$base/transfer-drive-b
source "$root/tests/support/check.sh"
has() { # has WHAT LINE OUTPUT: the output holds the line
  if printf '%s\n' "$3" | grep -qxF -- "$2"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n   no line: %s\n   in:\n%s\n' "$1" "$2" "$3"
  fi
}
# orvane.exe in a prefix: its output and errors, without carriage returns and Wine's
# notes; its exit code.
in_prefix() { # in_prefix PREFIX ARGS...
  local prefix=$1 status
  shift
  WINEPREFIX=$prefix wine "$orvane" "$@" >"$drive.out" 2>&1
  status=$?
  tr -d '\r' <"$drive.out" | grep -v ':fixme:'
  return $status
}
fresh_prefix() {
  WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$1" "${1%/}-setup.log"
  WINEPREFIX=$1 ensure_prefix >/dev/null || { echo "could not make the prefix $1"; exit 1; }
}
clean_up() {
  local prefix
  for prefix in "$first" "$second"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix" "${prefix%/}-setup.log"
  done
  rm -rf "$drive" "$drive.out"
}
trap clean_up EXIT
rm -rf "$drive"
mkdir -p "$base"

# The first computer.
fresh_prefix "$first"
made=$first/drive_c/orvane-transfer
mkdir -p "$made/photos" "$made/colour"
printf 'a report\n' >"$made/report.txt"
in_prefix "$first" set shell32.dll,4 'C:\orvane-transfer\photos' --for-all >/dev/null
in_prefix "$first" set --colour '#2E7D32' --recurse 'C:\orvane-transfer\colour' --for-me >/dev/null
in_prefix "$first" set shell32.dll,5 'C:\orvane-transfer\report.txt' --for-all >/dev/null
in_prefix "$first" set shell32.dll,6 'C:\orvane-transfer\report.txt' --all-of-type --for-me >/dev/null
out=$(in_prefix "$first" export 'C:\orvane-transfer\settings.json')
check "export's exit" 0 "$?"
[ -s "$made/settings.json" ] || { echo "FAILED: export wrote no file: $out"; exit 1; }
WINEPREFIX=$first wineserver -k >/dev/null 2>&1 || true

# The second computer: its folders on P:, one with a Desktop.ini of its own.
fresh_prefix "$second"
mkdir -p "$drive/data/photos" "$drive/data/colour"
printf 'another report\n' >"$drive/data/report.txt"
# A file of the type without an icon of its own shows the type's.
printf 'notes\n' >"$drive/data/notes.txt"
printf '[.ShellClassInfo]\r\nInfoTip=the second computer'"'"'s own\r\n' >"$drive/data/photos/desktop.ini"
cp "$drive/data/photos/desktop.ini" "$drive/own-desktop.ini"
cp "$made/settings.json" "$drive/settings.json"
ln -sfn "$drive" "$second/dosdevices/p:"
type_before=$(in_prefix "$second" show 'P:\data\notes.txt' --all-of-type | grep '^  icon:')

for scope in all-users this-user; do
  flag=$([ $scope = all-users ] && echo --for-all || echo --for-me)
  words=$([ $scope = all-users ] && echo "for all users" || echo "for this user")
  out=$(in_prefix "$second" import 'P:\settings.json' --map 'C:\orvane-transfer=P:\data' "$flag")
  check "$scope: import's exit" 0 "$?"
  has "$scope: the folder" "P:\\data\\photos: Folder icon set $words" "$out"
  has "$scope: the coloured folder" "P:\\data\\colour: Folder icon set $words" "$out"
  has "$scope: the file" "P:\\data\\report.txt: File icon set $words" "$out"
  has "$scope: the summary" "Imported 4 of 4 setting(s): 4 changed, 0 unchanged, 0 skipped, 0 refused, 0 failed." "$out"

  out=$(in_prefix "$second" show 'P:\data\photos' 'P:\data\report.txt')
  has "$scope: the folder's icon" '  icon:   C:\windows\system32\shell32.dll,4' "$out"
  has "$scope: the file's icon" '  icon:   C:\windows\system32\shell32.dll,5' "$out"
  has "$scope: the scope" "  scope:  $words" "$out"
  out=$(in_prefix "$second" show 'P:\data\notes.txt' --all-of-type)
  has "$scope: the type's icon" '  icon:   C:\windows\system32\shell32.dll,6' "$out"
  ini=$(find "$drive/data/colour" -maxdepth 1 -iname desktop.ini)
  # Desktop.ini is UTF-16 when the folder's icon is; the made icon lies in the folder.
  icon=$(iconv -f UTF-16 -t UTF-8 "${ini:-/nonexistent}" 2>/dev/null | tr -d '\r' | sed -n 's/^IconResource=\(.*\),0$/\1/p')
  check "$scope: the coloured folder names its made icon, which is there" yes \
    "$([ -n "$icon" ] && [ -s "$drive/data/colour/$icon" ] && echo yes || echo "no: '$icon'")"

  out=$(in_prefix "$second" import 'P:\settings.json' --map 'C:\orvane-transfer=P:\data' "$flag")
  has "$scope: a second import" "Imported 4 of 4 setting(s): 0 changed, 4 unchanged, 0 skipped, 0 refused, 0 failed." "$out"

  in_prefix "$second" restore 'P:\data\photos' 'P:\data\colour' 'P:\data\report.txt' "$flag" >/dev/null
  in_prefix "$second" restore 'P:\data\report.txt' --all-of-type "$flag" >/dev/null
  cmp -s "$drive/own-desktop.ini" "$(find "$drive/data/photos" -maxdepth 1 -iname desktop.ini)"
  check "$scope: restore puts the folder's own Desktop.ini back byte for byte" 0 "$?"
  check "$scope: restore leaves the coloured folder as it was: empty (no Desktop.ini, no made icon)" "" \
    "$(ls -A "$drive/data/colour")"
  check "$scope: restore gives the type its own icon back" "$type_before" \
    "$(in_prefix "$second" show 'P:\data\notes.txt' --all-of-type | grep '^  icon:')"
done

echo "two computers ($arch): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
