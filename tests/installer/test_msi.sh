#!/usr/bin/env bash
# Installs Orvane-ARCH.msi into a Wine prefix with msiexec, checks the registration and
# that COM can create the extension, gives a file type a per-file icon with the installed
# orvane.exe, uninstalls, and checks that the type has its own icon and handler back and
# that nothing of the product is left: no key, no file, the registry and the drive as
# they were before (compared whole). Then the same for the per-user package
# (Orvane-ARCH-user.msi), which installs into the user's own programs folder and
# registers under HKCU only, as "regsvr32 /n /i:user" does. Both packages' custom actions
# for Windows 11's menu ("orvane.exe package register|unregister", the certificate's
# trust) are read from their tables, and their answer under Wine, "not available", from
# the installer's log. The package's Registry table, what msiexec installed
# and what DllRegisterServer writes must each be the registration of the class identifier
# that the build made from its one constant (ARCH_BUILD_DIR/ExtensionClsid.txt).
#   test_msi.sh ARCH ARCH_BUILD_DIR
# The prefix is one of its own (ARCH_BUILD_DIR/../wineprefix-msi, or ORVANE_MSI_PREFIX),
# so that a product installed into the main prefix (scripts/run.sh does that) and this
# install/uninstall never meet.
set -uo pipefail
arch=${1:?usage: test_msi.sh x64|x86 ARCH_BUILD_DIR}
build=$(cd "${2:?usage: test_msi.sh x64|x86 ARCH_BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

source "$root/scripts/common.sh"
export WINEPREFIX=${ORVANE_MSI_PREFIX:-$(dirname "$build")/wineprefix-msi}
case $arch in
  x64) view=/reg:64; programs="Program Files" ;;
  x86) view=/reg:32; programs="Program Files (x86)" ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
other_view=$([ "$view" = /reg:64 ] && echo /reg:32 || echo /reg:64)

clsid_file=$build/ExtensionClsid.txt
[ -f "$clsid_file" ] || { echo "$clsid_file is missing: configure and build $arch first"; exit 1; }
clsid=$(tr -d '\r\n' <"$clsid_file")
other_handler='{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'
source "$root/tests/support/check.sh"
# The data of a value ("" names the default value), or <missing>.
regval() {
  local out
  if [ -z "$2" ]; then
    out=$(wine reg query "$1" /ve "${3:-$view}" 2>/dev/null | tr -d '\r')
  else
    out=$(wine reg query "$1" /v "$2" "${3:-$view}" 2>/dev/null | tr -d '\r')
  fi
  [ $? -eq 0 ] || { echo "<missing>"; return; }
  local line
  line=$(printf '%s\n' "$out" | grep -E '    REG_[A-Z_]+' | head -n 1)
  [ -n "$line" ] || { echo "<missing>"; return; }
  printf '%s\n' "$line" | sed -E 's/^.*    REG_[A-Z_]+    ?//'
}
# The registration's values, one per line, with the DLL's path written as <dll>: all
# users' (HKCR and HKLM's approval), or with CLASSES and APPROVED_ROOT given this user's
# (HKCU\Software\Classes and HKCU).
registration() { # DLL_PATTERN [CLASSES APPROVED_ROOT]
  local owner classes=${2:-HKCR} approved=${3:-HKLM}
  echo "class: $(regval "$classes\\CLSID\\$clsid" "")"
  echo "server: $(regval "$classes\\CLSID\\$clsid\\InprocServer32" "" | sed "s|^$1\$|<dll>|")"
  echo "threading: $(regval "$classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel)"
  for owner in '*' Directory Drive; do
    echo "$owner: $(regval "$classes\\$owner\\shellex\\ContextMenuHandlers\\Orvane" "")"
  done
  echo "approved: $(regval "$approved\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved" "$clsid")"
}
user_classes='HKCU\Software\Classes'

# The registration that the constant's class identifier makes, in registration()'s form.
expected_registration() {
  printf '%s\n' "class: Orvane" "server: <dll>" "threading: Apartment" \
    "*: $clsid" "Directory: $clsid" "Drive: $clsid" "approved: Orvane"
}
# The same read from the package's Registry table (msiinfo), without installing it:
# root 0 is HKCR, 2 is HKLM; the DLL's path is the table's [#OrvaneDll].
table_value() { # ROOT KEY NAME
  root=$1 key=$2 name=$3 awk -F'\t' '
    NR > 3 && $2 == ENVIRON["root"] && $3 == ENVIRON["key"] && $4 == ENVIRON["name"] { print $5; found = 1 }
    END { if (!found) print "<missing>" }' <<<"$registry_table"
}
# With CLASSES_ROOT CLASSES_PREFIX APPROVED_ROOT given, the per-user package's: root 1
# (HKCU) with keys below Software\Classes\.
table_registration() { # [CLASSES_ROOT CLASSES_PREFIX APPROVED_ROOT]
  local owner croot=${1:-0} prefix=${2:-} aroot=${3:-2}
  echo "class: $(table_value "$croot" "${prefix}CLSID\\$clsid" "")"
  echo "server: $(table_value "$croot" "${prefix}CLSID\\$clsid\\InprocServer32" "" | sed 's/^\[#OrvaneDll\]$/<dll>/')"
  echo "threading: $(table_value "$croot" "${prefix}CLSID\\$clsid\\InprocServer32" ThreadingModel)"
  for owner in '*' Directory Drive; do
    echo "$owner: $(table_value "$croot" "${prefix}$owner\\shellex\\ContextMenuHandlers\\Orvane" "")"
  done
  echo "approved: $(table_value "$aroot" 'Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")"
}
haskey() { wine reg query "$1" "${2:-$view}" >/dev/null 2>&1 && echo present || echo absent; }
# What the package's custom actions wrote into an installer log (msiexec /l*v): the
# command each ran and what orvane.exe answered, with the Windows version cut from "not
# available". The log is removed, so that the drive holds the same files as before.
package_log() { # LOG_FILE_IN_DRIVE_C
  local log=$WINEPREFIX/drive_c/$1
  if [ -f "$log" ]; then
    tr -d '\r' <"$log" | grep -a '^Orvane: ' | sed 's/^\(Orvane: package: not available\).*$/\1/'
  else
    echo "<no log>"
  fi
  rm -f "$log"
}
# The package's custom actions: for each, its type, source and target (CustomAction
# table, sorted by name), then their order with the standard actions around them (InstallExecuteSequence).
package_actions() { # MSI
  msiinfo export "$1" CustomAction | tr -d '\r' | awk -F'\t' 'NR > 3 && $1 ~ /Package/ { print $1, $2, $3, $4 }' | sort
}
sequence_of() { # MSI ACTION...
  local msi=$1
  shift
  msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3, $1 }' | sort -n |
    awk -v names=" $* " 'index(names, " " $2 " ") { print $2 }' | tr '\n' ' ' | sed 's/ $//'
}
# The package file and its certificate in the File table, when the build made them.
package_files() { # MSI
  local name
  for name in "Orvane-$arch.msix" "Orvane-$arch.cer"; do
    if [ -f "$build/$name" ]; then
      echo "$name: $(msiinfo export "$1" File | tr -d '\r' | awk -F'\t' -v n="$name" 'NR > 3 && ($3 == n || $3 ~ ("\\|" n "$")) { print "installed"; f = 1 } END { if (!f) print "<missing>" }')"
    fi
  done
}
# The whole registry's values under their keys, and the file list of drive C:. Keys
# without values are left out: Windows Installer deletes a key that its uninstall leaves
# empty even when the key was there before (Wine's fresh prefix has an empty
# *\shellex\ContextMenuHandlers). Wine notes a missing display under ...\Control\Video,
# and rewrites the display adapter's driver date (...\Control\Class\{4D36E968-...}) and
# its service count (...\Control\ServiceCurrent) whenever its desktop process starts
# again, which it does after a pause of a few seconds without Wine programs (a build of
# the packages in the middle of the test is one); Windows Installer keeps its own cache
# folder.
snapshot() {
  # Wine's regedit now and then ends without writing the file (once in a prefix just
  # made): it is asked again, so that a comparison never holds an empty side.
  local attempt
  for attempt in 1 2 3; do
    wine regedit /E 'C:\orvane-snapshot.reg' >/dev/null 2>&1
    [ -s "$WINEPREFIX/drive_c/orvane-snapshot.reg" ] && break
    sleep 2
  done
  iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/orvane-snapshot.reg" | tr -d '\r' |
    awk '/^\[/ { skip = ($0 ~ /^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\(Video|Class\\[{]4D36E968-E325-11CE-BFC1-08002BE10318[}]|ServiceCurrent)/); key = $0; next }
         skip || /^$/ { next }
         { if (key != "") { print key; key = "" } print }' > "$1.reg"
  rm -f "$WINEPREFIX/drive_c/orvane-snapshot.reg"
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune \
     -o -path ./windows/Installer -prune -o -print | sort) > "$1.files"
}

command -v wixl >/dev/null || { echo "wixl is missing: run scripts/setup.sh"; exit 1; }
msi_built=$(bash "$root/installer/build.sh" "$arch" "$build") || exit 1
msi=$(winepath -w "$msi_built")
demo=$(winepath -w "$build/demo/orvane_demo.exe")
ensure_prefix || exit 1

work=$(mktemp -d)
ext=".orvmsi$RANDOM$RANDOM"
cls="${ext#.}file"
sample="C:\\orvane-msi-test"
installed_exe="C:\\$programs\\Orvane\\orvane.exe"

current_msi=$msi
current_user_msi=
cleanup() {
  if [ "$(haskey "HKCR\\CLSID\\$clsid\\InprocServer32")" = present ]; then
    wine msiexec /x "$current_msi" /qn >/dev/null 2>&1
  fi
  [ -n "$current_user_msi" ] && wine msiexec /x "$current_user_msi" /qn >/dev/null 2>&1
  wine reg delete "HKCR\\$ext" /f "$view" >/dev/null 2>&1
  wine reg delete "HKCR\\$cls" /f "$view" >/dev/null 2>&1
  rm -rf "$WINEPREFIX/drive_c/orvane-msi-test"
  rm -f "$WINEPREFIX"/drive_c/orvane-msi-*.log
  rm -rf "$work"
  # Only this prefix's server (and the Wine services it started) ends here.
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "== the package's Registry table holds the constant's class identifier"
registry_table=$(msiinfo export "$msi_built" Registry | tr -d '\r')
check "the class identifier made from the constant" yes \
  "$([[ $clsid =~ ^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$ ]] && echo yes || echo no)"
check "the Registry table registers the constant's class" "$(expected_registration)" "$(table_registration)"
check "every class identifier in the Registry table is the constant's" "$clsid" \
  "$(tail -n +4 <<<"$registry_table" | grep -o '{[0-9A-Fa-f-]*}' | sort -u | tr '\n' ' ' | sed 's/ $//')"

check "the prefix holds no Orvane before the test" absent "$(haskey "HKCR\\CLSID\\$clsid")"
snapshot "$work/before"

echo "== on Windows on Arm (played) the package refuses, and names the arm64 package"
# Wine reports its own machine (x64), so the answer is played: in a copy of each package the
# query action (ReadNativeMachine, from orvane-setup.dll) is replaced by one that sets its
# property to ARM64's machine, 43620 (type 51: a property set).
user_built=$(bash "$root/installer/build.sh" --per-user "$arch" "$build") || exit 1
for package in machine user; do
  if [ $package = machine ]; then built=$msi_built; arm_msi=Orvane-arm64.msi; else built=$user_built; arm_msi=Orvane-arm64-user.msi; fi
  check "the $package package's query of the machine runs before its launch conditions in both sequences" \
    "99 99" "$(for table in InstallUISequence InstallExecuteSequence; do
      msiinfo export "$built" $table | tr -d '\r' | awk -F'\t' '$1 == "ReadNativeMachine" { print $3 }'; done | tr '\n' ' ' | sed 's/ $//')"
  check "the $package package refuses Windows on Arm but removes an installed product, naming $arm_msi" yes \
    "$(msiinfo export "$built" LaunchCondition | tr -d '\r' |
       awk -F'\t' -v m="$arm_msi" '$1 == "NOT ORVANE_NATIVE_MACHINE = 43620 OR Installed" && index($2, "Windows on Arm") && index($2, m) { print "yes" }')"
  played=$work/played-$package.msi
  cp "$built" "$played"
  msibuild "$played" -q "UPDATE CustomAction SET Type=51, Source='ORVANE_NATIVE_MACHINE', Target='43620' WHERE Action='ReadNativeMachine'"
  wine msiexec /i "$(winepath -w "$played")" /qn /l*v 'C:\orvane-msi-arm.log' >/dev/null 2>&1
  check "the $package package on Windows on Arm: refused (1603)" 67 $?
  check "its launch conditions refused it, with ARM64's machine" "Action ended LaunchConditions. Return value 0.
Property(S): ORVANE_NATIVE_MACHINE = 43620" \
    "$(tr -d '\r' <"$WINEPREFIX/drive_c/orvane-msi-arm.log" | grep -a -E '^Property\(S\): ORVANE_NATIVE_MACHINE |^Action ended .*LaunchConditions\.' |
       sed -E 's/^Action ended [0-9:]+: /Action ended /')"
  rm -f "$WINEPREFIX/drive_c/orvane-msi-arm.log"
  check "nothing registered by the refused $package package" "absent absent" \
    "$(haskey "HKCR\\CLSID\\$clsid") $(haskey "$user_classes\\CLSID\\$clsid")"
done
check "no program folder after the refused installs" no "$([ -e "$WINEPREFIX/drive_c/$programs/Orvane" ] && echo yes || echo no)"

echo "== the package for Windows 11's menu: its file, its registration and removal, the certificate's trust"
# (msiinfo export of the Binary table would write its streams into the working folder.)
check "the custom action's DLL is in the Binary table" Binary.OrvaneSetup \
  "$(msiinfo streams "$msi_built" | tr -d '\r' | grep '^Binary\.')"
# 51 + 2048: a property set for a deferred action. 1089: orvane-setup.dll from the Binary
# table (1), deferred (1024), errors ignored (64), as the installing user; 3137 adds
# 2048, as the system. The all-users registration trusts the throwaway certificate
# installed beside the package, and its removal takes exactly that trust away.
cer="[INSTALLDIR]Orvane-$arch.cer"
check "the register and unregister actions and what they run" "$(sort <<<"SetRegisterPackageForAllUsers 2099 RegisterPackageForAllUsers \"[#OrvaneExe]\" package register --all-users --trust \"$cer\"
RegisterPackageForAllUsers 3137 OrvaneSetup RunPackageCommand
SetRegisterPackageForThisUser 2099 RegisterPackageForThisUser \"[#OrvaneExe]\" package register
RegisterPackageForThisUser 1089 OrvaneSetup RunPackageCommand
SetUnregisterPackageForThisUser 2099 UnregisterPackageForThisUser \"[#OrvaneExe]\" package unregister
UnregisterPackageForThisUser 1089 OrvaneSetup RunPackageCommand
SetUnregisterPackageForAllUsers 2099 UnregisterPackageForAllUsers \"[#OrvaneExe]\" package unregister --all-users --trust \"$cer\"
UnregisterPackageForAllUsers 3137 OrvaneSetup RunPackageCommand")" \
  "$(package_actions "$msi_built")"
check "registered after the files and values are written, for all users first" \
  "InstallFiles WriteRegistryValues RegisterPackageForAllUsers RegisterPackageForThisUser InstallFinalize" \
  "$(sequence_of "$msi_built" InstallFiles WriteRegistryValues RegisterPackageForAllUsers RegisterPackageForThisUser InstallFinalize)"
check "removed before any value or file is, this user's first" \
  "InstallInitialize UnregisterPackageForThisUser UnregisterPackageForAllUsers RemoveRegistryValues RemoveFiles" \
  "$(sequence_of "$msi_built" InstallInitialize UnregisterPackageForThisUser UnregisterPackageForAllUsers RemoveRegistryValues RemoveFiles)"
check "conditions: registered unless removed, removed on every removal (an upgrade's too)" \
  'RegisterPackageForAllUsers NOT REMOVE="ALL"
RegisterPackageForThisUser NOT REMOVE="ALL"
UnregisterPackageForAllUsers REMOVE="ALL"
UnregisterPackageForThisUser REMOVE="ALL"' \
  "$(msiinfo export "$msi_built" InstallExecuteSequence | tr -d '\r' | awk -F'\t' 'NR > 3 && $1 ~ /^(Unr|R)egisterPackage/ { print $1, $2 }' | sort)"
files=$(package_files "$msi_built")
if [ -n "$files" ]; then
  check "the package file and its certificate are installed" \
    "$(printf '%s\n' "$files" | sed 's/: .*$/: installed/')" "$files"
else
  echo "(no Orvane-$arch.msix in $build: the check that the package installs its file is skipped)"
fi

echo "== install $msi_built"
wine msiexec /i "$msi" /qn /l*v 'C:\orvane-msi-install.log' >/dev/null 2>&1
check "msiexec /i exit code" 0 $?
check "the install read the machine (x64 under Wine) and ran the package's registration, which Wine answers with not available" \
"Orvane: native machine 0x8664
Orvane: running \"$installed_exe\" package register --all-users --trust \"C:\\$programs\\Orvane\\Orvane-$arch.cer\"
Orvane: package: not available
Orvane: exit code 0
Orvane: running \"$installed_exe\" package register
Orvane: package: not available
Orvane: exit code 0" "$(package_log orvane-msi-install.log)"
dll="C:\\$programs\\Orvane\\orvane.dll"
check "orvane.dll installed" yes "$([ -f "$WINEPREFIX/drive_c/$programs/Orvane/orvane.dll" ] && echo yes || echo no)"
check "orvane.exe installed" yes "$([ -f "$WINEPREFIX/drive_c/$programs/Orvane/orvane.exe" ] && echo yes || echo no)"
check "orvane-dialog.exe installed beside the DLL" yes \
  "$(cmp -s "$build/app/orvane-dialog.exe" "$WINEPREFIX/drive_c/$programs/Orvane/orvane-dialog.exe" && echo yes || echo no)"
check "class name" Orvane "$(regval "HKCR\\CLSID\\$clsid" "")"
check "InprocServer32" "$dll" "$(regval "HKCR\\CLSID\\$clsid\\InprocServer32" "")"
check "ThreadingModel" Apartment "$(regval "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel)"
for owner in '*' Directory Drive; do
  check "$owner context-menu handler" "$clsid" "$(regval "HKCR\\$owner\\shellex\\ContextMenuHandlers\\Orvane" "")"
done
check "approved shell extension" Orvane \
  "$(regval 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")"
msi_registration=$(registration "$(printf '%s' "$dll" | sed 's/[\\.]/\\&/g')")
check "msiexec installed the constant's registration" "$(expected_registration)" "$msi_registration"
check "no registration in the other view" absent "$(haskey "HKCR\\CLSID\\$clsid" "$other_view")"

probe=$(wine "$demo" probe 2>&1 | tr -d '\r')
check "CoCreateInstance of the extension (IShellExtInit)" 0 $?
echo "$probe"
mkdir -p "$WINEPREFIX/drive_c/orvane-msi-test/folder"
menu=$(wine "$demo" menu "$sample\\folder" 2>&1 | tr -d '\r')
check "the folder's context menu offers Change Icon" yes "$(grep -qx '  &Change Icon...' <<<"$menu" && echo yes || echo no)"

# Both packages write the same (shared) context-menu handler keys, so the other
# architecture's package must refuse to install beside this one.
other_arch=$([ "$arch" = x64 ] && echo x86 || echo x64)
other_build=$(dirname "$build")/$other_arch
# The package's first custom action (the machine's query) runs before its launch conditions,
# in a custom action server of its own architecture, which Wine starts for x86 only where
# it runs 32-bit code.
if [ "$other_arch" = x86 ] && [ -z "$HOST_RUNS_X86" ]; then
  echo "(the x86 package's custom action cannot run here: $X86_NOT_RUN; the check that both packages exclude each other is skipped)"
elif [ -f "$other_build/server/orvane.dll" ] && [ -f "$other_build/cli/orvane.exe" ]; then
  other_msi=$(winepath -w "$(bash "$root/installer/build.sh" "$other_arch" "$other_build")")
  wine msiexec /i "$other_msi" /qn >/dev/null 2>&1
  # ERROR_INSTALL_FAILURE, 1603, reaches the shell as its low byte, 67.
  check "the $other_arch package refuses to install beside this one (1603)" 67 $?
  check "this package's registration is untouched" "$dll" "$(regval "HKCR\\CLSID\\$clsid\\InprocServer32" "")"
  check "no $other_arch files" no "$([ -e "$WINEPREFIX/drive_c/$([ "$other_arch" = x86 ] && echo 'Program Files (x86)' || echo 'Program Files')/Orvane" ] && echo yes || echo no)"
else
  echo "(no $other_arch build beside this one: the check that both packages exclude each other is skipped)"
fi

echo "== a per-file icon for a type with an icon and a handler of its own"
echo x > "$WINEPREFIX/drive_c/orvane-msi-test/a$ext"
wine reg add "HKCR\\$ext" /ve /d "$cls" /f "$view" >/dev/null 2>&1
wine reg add "HKCR\\$cls\\DefaultIcon" /ve /d 'shell32.dll,1' /f "$view" >/dev/null 2>&1
wine reg add "HKCR\\$cls\\shellex\\IconHandler" /ve /d "$other_handler" /f "$view" >/dev/null 2>&1
wine "$installed_exe" set 'shell32.dll,5' "$sample\\a$ext" "$sample\\folder"
check "orvane.exe set exit code" 0 $?
check "type now asks the extension" '%1' "$(regval "HKCR\\$cls\\DefaultIcon" "")"
check "extension is the type's icon handler" "$clsid" "$(regval "HKCR\\$cls\\shellex\\IconHandler" "")"
check "previous handler backed up" "$other_handler" "$(regval "HKCR\\$cls\\shellex\\IconHandlerBAK" "")"

echo "== upgrade to a newer version: the icons stay"
# Windows Installer removes the older product of an upgrade with UPGRADINGPRODUCTCODE
# set, which keeps remove-all from running. Wine's RemoveExistingProducts starts that
# removal without the property, so the test removes the older product the way Windows
# does and then installs the newer one.
newer_built=$work/Orvane-$arch-newer.msi
ORVANE_VERSION=1.0.1 bash "$root/installer/build.sh" "$arch" "$build" "$newer_built" >/dev/null || exit 1
newer=$(winepath -w "$newer_built")
newer_code=$(msiinfo export "$newer_built" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" {print $2}')
wine msiexec /x "$msi" UPGRADINGPRODUCTCODE="$newer_code" /qn >/dev/null 2>&1
check "removal of the older product within an upgrade" 0 $?
check "the type's handler stays during the upgrade" "$clsid" "$(regval "HKCR\\$cls\\shellex\\IconHandler" "")"
wine msiexec /i "$newer" /qn >/dev/null 2>&1
check "msiexec /i of the newer package exit code" 0 $?
current_msi=$newer
check "registered again" "$dll" "$(regval "HKCR\\CLSID\\$clsid\\InprocServer32" "")"
check "still the type's icon handler" "$clsid" "$(regval "HKCR\\$cls\\shellex\\IconHandler" "")"
check "the file keeps its own icon" "C:\\windows\\system32\\shell32.dll,5,$cls" \
  "$(regval 'HKLM\Software\Brindlewick Software\Orvane\FileIcons' "$sample\\a$ext")"

echo "== uninstall"
wine msiexec /x "$current_msi" /qn /l*v 'C:\orvane-msi-uninstall.log' >/dev/null 2>&1
check "msiexec /x exit code" 0 $?
check "the uninstall read the machine and ran the package's removal, which Wine answers with not available" \
"Orvane: native machine 0x8664
Orvane: running \"$installed_exe\" package unregister
Orvane: package: not available
Orvane: exit code 0
Orvane: running \"$installed_exe\" package unregister --all-users --trust \"C:\\$programs\\Orvane\\Orvane-$arch.cer\"
Orvane: package: not available
Orvane: exit code 0" "$(package_log orvane-msi-uninstall.log)"
check "type's own icon is back" 'shell32.dll,1' "$(regval "HKCR\\$cls\\DefaultIcon" "")"
check "type's own handler is back" "$other_handler" "$(regval "HKCR\\$cls\\shellex\\IconHandler" "")"
check "no DefaultIconBAK left" absent "$(haskey "HKCR\\$cls\\DefaultIconBAK")"
check "no IconHandlerBAK left" absent "$(haskey "HKCR\\$cls\\shellex\\IconHandlerBAK")"
check "no class key" absent "$(haskey "HKCR\\CLSID\\$clsid")"
for owner in '*' Directory Drive; do
  check "no $owner context-menu handler" absent "$(haskey "HKCR\\$owner\\shellex\\ContextMenuHandlers\\Orvane")"
done
check "not approved any more" '<missing>' \
  "$(regval 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")"
check "no product key (per-file table, folder backups)" absent "$(haskey 'HKLM\Software\Brindlewick Software')"
check "no program folder" no "$([ -e "$WINEPREFIX/drive_c/$programs/Orvane" ] && echo yes || echo no)"

echo "== the package registers exactly what DllRegisterServer registers"
regsvr32=regsvr32
[ "$arch" = x86 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
built_dll=$(winepath -w "$build/server/orvane.dll")
# DllUnregisterServer takes out its own entries but leaves the parent keys it had to
# create, which Windows always has and a fresh Wine prefix may not; those are removed here.
parents=()
for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions' \
           'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'; do
  [ "$(haskey "$key")" = absent ] && parents=("$key" "${parents[@]}")
done
for owner in '*' Directory Drive; do
  for key in "HKCR\\$owner" "HKCR\\$owner\\shellex" "HKCR\\$owner\\shellex\\ContextMenuHandlers"; do
    [ "$(haskey "$key")" = absent ] && parents=("$key" "${parents[@]}")
  done
done
wine "$regsvr32" /s "$built_dll" >/dev/null 2>&1
check "regsvr32 exit code" 0 $?
self_registration=$(registration "$(printf '%s' "$built_dll" | sed 's/[\\.]/\\&/g')")
check "DllRegisterServer registers the constant's class" "$(expected_registration)" "$self_registration"
check "the package's registration is DllRegisterServer's" "$msi_registration" "$self_registration"
wine "$regsvr32" /u /s "$built_dll" >/dev/null 2>&1
check "regsvr32 /u exit code" 0 $?
for key in "${parents[@]}"; do
  wine reg delete "$key" /f "$view" >/dev/null 2>&1
done

echo "== the machine package hands back the uninstalling user's classes too"
custom_actions=$(msiinfo export "$msi_built" CustomAction | tr -d '\r')
# Type 1106: an exe from the package's files (18), errors ignored (64), deferred (1024),
# run as the user who uninstalls; 3154 adds 2048, run as the system.
check "remove-all as the uninstalling user and as the system" "RemoveThisUsersSettings 1106 remove-all
RemoveAllSettings 3154 remove-all" \
  "$(awk -F'\t' 'NR > 3 && $3 == "OrvaneExe" { print $1, $2, $4 }' <<<"$custom_actions")"
check "both run before any file or value is removed, the user's first" \
  "RemoveThisUsersSettings RemoveAllSettings RemoveRegistryValues RemoveFiles" \
  "$(msiinfo export "$msi_built" InstallExecuteSequence | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3, $1 }' |
     sort -n | awk '$2 ~ /^(RemoveThisUsersSettings|RemoveAllSettings|RemoveRegistryValues|RemoveFiles)$/ { print $2 }' |
     tr '\n' ' ' | sed 's/ $//')"

echo "== the per-user package: no administrator rights, this user's classes"
user_msi=$(winepath -w "$user_built")
registry_table=$(msiinfo export "$user_built" Registry | tr -d '\r')
check "the per-user package's Registry table registers the constant's class for this user" \
  "$(expected_registration)" "$(table_registration 1 'Software\Classes\' 1)"
check "every value of the per-user package is this user's (root 1, HKCU)" 1 \
  "$(tail -n +4 <<<"$registry_table" | cut -f2 | sort -u | tr '\n' ' ' | sed 's/ $//')"
# The summary's word count: 8 says that installing needs no elevation. Without ALLUSERS
# Windows Installer installs for this user.
word_count=$(msiinfo suminfo "$user_built" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
check "the per-user package needs no elevation" 8 $(( ${word_count:-0} & 8 ))
check "the per-user package sets no ALLUSERS" "" \
  "$(msiinfo export "$user_built" Property | tr -d '\r' | awk -F'\t' '$1 == "ALLUSERS" { print $2 }')"

check "the per-user package registers the package for this user and removes it, nothing for all users" \
"$(sort <<<"SetRegisterPackageForThisUser 2099 RegisterPackageForThisUser \"[#OrvaneExe]\" package register
RegisterPackageForThisUser 1089 OrvaneSetup RunPackageCommand
SetUnregisterPackageForThisUser 2099 UnregisterPackageForThisUser \"[#OrvaneExe]\" package unregister
UnregisterPackageForThisUser 1089 OrvaneSetup RunPackageCommand")" "$(package_actions "$user_built")"
check "the per-user package's registration comes after its files, its removal before" \
  "UnregisterPackageForThisUser RemoveRegistryValues RemoveFiles InstallFiles WriteRegistryValues RegisterPackageForThisUser InstallFinalize" \
  "$(sequence_of "$user_built" UnregisterPackageForThisUser RemoveRegistryValues RemoveFiles InstallFiles WriteRegistryValues RegisterPackageForThisUser InstallFinalize)"
files=$(package_files "$user_built")
if [ -n "$files" ]; then
  check "the per-user package installs the package file" "Orvane-$arch.msix: installed" \
    "$(printf '%s\n' "$files" | grep '^Orvane-.*\.msix:')"
fi

user_programs=$(winepath -u "$(wine cmd /c echo '%LOCALAPPDATA%' 2>/dev/null | tr -d '\r')")/Programs
user_dll="$(winepath -w "$user_programs")\\Orvane\\orvane.dll"
user_exe="$(winepath -w "$user_programs")\\Orvane\\orvane.exe"
snapshot "$work/user-before"
wine msiexec /i "$user_msi" /qn /l*v 'C:\orvane-msi-user-install.log' >/dev/null 2>&1
check "msiexec /i of the per-user package exit code" 0 $?
check "the per-user install read the machine and ran the package's registration for this user: not available" \
"Orvane: native machine 0x8664
Orvane: running \"$user_exe\" package register
Orvane: package: not available
Orvane: exit code 0" "$(package_log orvane-msi-user-install.log)"
current_user_msi=$user_msi
check "orvane.dll in the user's programs folder" yes "$([ -f "$user_programs/Orvane/orvane.dll" ] && echo yes || echo no)"
check "orvane.exe in the user's programs folder" yes "$([ -f "$user_programs/Orvane/orvane.exe" ] && echo yes || echo no)"
check "orvane-dialog.exe in the user's programs folder" yes \
  "$(cmp -s "$build/app/orvane-dialog.exe" "$user_programs/Orvane/orvane-dialog.exe" && echo yes || echo no)"
check "no program folder for all users" no "$([ -e "$WINEPREFIX/drive_c/$programs/Orvane" ] && echo yes || echo no)"
check "the user's InprocServer32 names the user's copy" "$user_dll" \
  "$(regval "$user_classes\\CLSID\\$clsid\\InprocServer32" "")"
user_msi_registration=$(registration "$(printf '%s' "$user_dll" | sed 's/[\\.]/\\&/g')" "$user_classes" HKCU)
check "msiexec installed the constant's registration for this user" "$(expected_registration)" "$user_msi_registration"
check "no registration for all users" absent "$(haskey "HKCR\\CLSID\\$clsid")"
check "nothing approved for all users" '<missing>' \
  "$(regval 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")"
wine msiexec /x "$user_msi" /qn /l*v 'C:\orvane-msi-user-uninstall.log' >/dev/null 2>&1
check "msiexec /x of the per-user package exit code" 0 $?
check "the per-user uninstall read the machine and ran the package's removal for this user: not available" \
"Orvane: native machine 0x8664
Orvane: running \"$user_exe\" package unregister
Orvane: package: not available
Orvane: exit code 0" "$(package_log orvane-msi-user-uninstall.log)"
current_user_msi=
check "no user's class key" absent "$(haskey "$user_classes\\CLSID\\$clsid")"
check "no user's program folder" no "$([ -e "$user_programs/Orvane" ] && echo yes || echo no)"
snapshot "$work/user-after"
check "the per-user package's uninstall leaves the registry as before" "" \
  "$(diff "$work/user-before.reg" "$work/user-after.reg" | head -n 40)"
check "the per-user package's uninstall leaves the files as before" "" \
  "$(diff "$work/user-before.files" "$work/user-after.files" | head -n 40)"

echo "== the per-user package registers exactly what regsvr32 /n /i:user registers"
wine "$regsvr32" /s /n /i:user "$built_dll" >/dev/null 2>&1
check "regsvr32 /n /i:user exit code" 0 $?
user_self_registration=$(registration "$(printf '%s' "$built_dll" | sed 's/[\\.]/\\&/g')" "$user_classes" HKCU)
check "DllInstall registers the constant's class for this user" "$(expected_registration)" "$user_self_registration"
check "the per-user package's registration is DllInstall's" "$user_msi_registration" "$user_self_registration"
wine "$regsvr32" /s /u /n /i:user "$built_dll" >/dev/null 2>&1
check "regsvr32 /u /n /i:user exit code" 0 $?
snapshot "$work/user-after"
check "regsvr32 /u /n /i:user leaves the registry as before" "" \
  "$(diff "$work/user-before.reg" "$work/user-after.reg" | head -n 40)"

wine reg delete "HKCR\\$ext" /f "$view" >/dev/null 2>&1
wine reg delete "HKCR\\$cls" /f "$view" >/dev/null 2>&1
rm -rf "$WINEPREFIX/drive_c/orvane-msi-test"
snapshot "$work/after"
registry_diff=$(diff "$work/before.reg" "$work/after.reg" | head -n 40)
check "the registry is as before the install" "" "$registry_diff"
files_diff=$(diff "$work/before.files" "$work/after.files" | head -n 40)
check "drive C: holds the same files as before the install" "" "$files_diff"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
