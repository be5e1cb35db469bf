#!/usr/bin/env bash
# The winget manifest of a release, as installer/winget_manifest.py writes it from the MSIs
# this build makes (for all users and for one user; the other architectures' two as well,
# x64, x86 or arm64, when their builds sit beside this one): each of its three files validated against
# Microsoft's published schemas (winget_check.py), and every installer's architecture,
# scope, SHA-256, product code, upgrade code and address equal to its MSI's, read here on
# their own (sha256sum, msiinfo). Manifests spoilt one way each must fail the check, and
# releases the script must refuse leave no manifest behind.
#   test_winget.sh ARCH ARCH_BUILD_DIR
set -uo pipefail
arch=${1:?usage: test_winget.sh x64|x86 ARCH_BUILD_DIR}
build=$(cd "${2:?usage: test_winget.sh x64|x86 ARCH_BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/installer
schemas=$here/winget-schemas
# The address pattern docs/building.md gives a maintainer: the release's folder, https.
url=https://releases.example.invalid/orvane/v1.0.0
unset ORVANE_SIGN_PFX ORVANE_SIGN_PASSWORD ORVANE_SIGN_TIMESTAMP_URL ORVANE_VERSION

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/tests/support/check.sh"
# A Python that has Debian's python3-jsonschema and python3-yaml (scripts/setup.sh installs
# them; the python3 on PATH may be another one).
python=
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import jsonschema, yaml' 2>/dev/null; then python=$candidate; break; fi
done
if [ -z "$python" ]; then
  echo "FAILED: no python3 with jsonschema and yaml (python3-jsonschema, python3-yaml; scripts/setup.sh installs them)"
  exit 1
fi
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v n="$2" '$1 == n { print $2 }'; }

# The MSIs of a release: this architecture's, and the others' (x64, x86, arm64) whose builds
# are there.
msis=()
expected=()
for a in "$arch" $(printf '%s\n' x64 x86 arm64 | grep -vx "$arch"); do
  b=$(dirname "$build")/$a
  if [ "$a" != "$arch" ] && ! [ -f "$b/server/orvane.dll" ] && ! [ -f "$b/cli/orvane.exe" ]; then
    echo "(no $a build beside this one: the manifest holds the $arch installers only)"
    continue
  fi
  for scope in machine user; do
    flag= suffix=
    [ "$scope" = user ] && flag=--per-user suffix=-user
    msi=$work/release/Orvane-$a$suffix.msi
    mkdir -p "$work/release"
    bash "$root/installer/build.sh" $flag "$a" "$b" "$msi" >/dev/null || { check "build.sh $flag $a" 0 1; continue; }
    msis+=("$msi")
    hash=$(sha256sum "$msi" | cut -d' ' -f1 | tr a-f A-F)
    code=$(property "$msi" ProductCode)
    expected+=("installer $a $scope $hash $code $code $(property "$msi" UpgradeCode) $url/$(basename "$msi")")
  done
done
expected_facts=$(echo 'package BrindlewickSoftware.Orvane 1.0.0'; printf '%s\n' "${expected[@]}" | sort)

echo "== the manifest of ${#msis[@]} MSIs"
folder=$("$python" "$root/installer/winget_manifest.py" --release-url "$url/" --out "$work/out" "${msis[@]}")
check "winget_manifest.py exit code" 0 $?
check "the community repository's folder" "$work/out/manifests/b/BrindlewickSoftware/Orvane/1.0.0" "$folder"
check "its three files" "BrindlewickSoftware.Orvane.installer.yaml BrindlewickSoftware.Orvane.locale.en-US.yaml BrindlewickSoftware.Orvane.yaml" \
  "$(ls "$folder" 2>/dev/null | tr '\n' ' ' | sed 's/ $//')"
facts=$("$python" "$here/winget_check.py" "$schemas" "$folder")
check "the manifest is valid" 0 $?
check "every installer is its MSI: architecture, scope, SHA-256, product and upgrade codes, address" \
  "$expected_facts" "$facts"
check "the release notes are the version's own" yes \
  "$(grep -q '^  - A backup of every change' "$folder/BrindlewickSoftware.Orvane.locale.en-US.yaml" && echo yes || echo no)"

# Each row: the file, a Python statement that spoils the loaded manifest `m`, and what the
# check must then say. A spoilt file must fail; the unspoilt copy passed above.
spoilt_rows=(
  "installer|m['Installers'][0]['InstallerSha256'] = 'ABC'|does not match"
  "installer|m['Installers'][0]['InstallerSha256'] = '0' * 64|installer"
  "installer|m['Installers'][-1]['Scope'] = 'everyone'|is not one of"
  "installer|del m['Installers'][0]['InstallerUrl']|'InstallerUrl' is a required property"
  "installer|m['Installers'][0]['InstallerUrl'] = 'ftp://example.invalid/Orvane.msi'|does not match"
  "installer|m['Installers'][0]['InstallerSha265'] = m['Installers'][0]['InstallerSha256']|unknown field Installers[0].InstallerSha265"
  "installer|m['ManifestVersion'] = '1.12.0'|no published schema for installer 1.12.0"
  "installer|m['PackageVersion'] = '1.0.1'|the version manifest BrindlewickSoftware.Orvane 1.0.0"
  "locale.en-US|del m['License']|'License' is a required property"
  "locale.en-US|m['ShortDescription'] = 'ab'|is too short"
  "locale.en-US|m['PackageLocale'] = 'de-DE'|the default locale file is de-DE"
  "|m['PackageIdentifier'] = 'Orvane'|does not match"
)
echo "== ${#spoilt_rows[@]} spoilt manifests"
for row in "${spoilt_rows[@]}"; do
  IFS='|' read -r file statement message <<<"$row"
  copy=$work/spoilt
  rm -rf "$copy"
  cp -r "$folder" "$copy"
  target=$copy/BrindlewickSoftware.Orvane${file:+.$file}.yaml
  "$python" - "$target" "$statement" <<'EOF'
import sys, yaml
path, statement = sys.argv[1], sys.argv[2]
text = open(path, encoding='utf-8').read()
head = text.split('\n\n', 1)[0] + '\n\n'
m = yaml.safe_load(text)
exec(statement)
open(path, 'w', encoding='utf-8').write(head + yaml.safe_dump(m, sort_keys=False, allow_unicode=True))
EOF
  out=$("$python" "$here/winget_check.py" "$schemas" "$copy")
  status=$?
  if [[ $statement == *"'0' * 64"* ]]; then
    # Valid to the schemas: only the comparison with the MSI can tell.
    check "$file: $statement: still valid" 0 $status
    check "$file: $statement: not the MSI's hash" no "$([ "$out" = "$expected_facts" ] && echo yes || echo no)"
    continue
  fi
  check "$file: $statement: refused" 1 $status
  check "$file: $statement: says \"$message\"" yes "$(grep -qF -- "$message" <<<"$out" && echo yes || echo no)"
done

echo "== releases that must be refused"
msi=${msis[0]}
newer=$work/newer/Orvane-$arch-user.msi
mkdir -p "$work/newer"
ORVANE_VERSION=1.0.1 bash "$root/installer/build.sh" --per-user "$arch" "$build" "$newer" >/dev/null ||
  check "build.sh of version 1.0.1" 0 1
# Each row: the release URL, the MSIs, and what the refusal must say.
refused_rows=(
  "http://releases.example.invalid/orvane|$msi|must be an https address"
  "https://releases.example.invalid/or vane|$msi|must be an https address"
  "$url|$msi $msi|are both $arch, scope machine"
  "$url|$msi $newer|of different versions: 1.0.0, 1.0.1"
  "$url|$newer|no notes for version 1.0.1"
  "$url|$work/release/Orvane-$arch.msix|msiinfo"
  "$url||no MSI given"
)
for row in "${refused_rows[@]}"; do
  IFS='|' read -r release given message <<<"$row"
  rm -rf "$work/refused"
  # shellcheck disable=SC2086
  err=$("$python" "$root/installer/winget_manifest.py" --release-url "$release" --out "$work/refused" $given 2>&1 >/dev/null)
  status=$?
  check "$release $given: refused" 1 $status
  check "$release $given: says \"$message\"" yes "$(grep -qF -- "$message" <<<"$err" && echo yes || echo "no: $err")"
  check "$release $given: no manifest written" absent "$([ -e "$work/refused" ] && echo present || echo absent)"
done

echo "winget manifest checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
