#!/usr/bin/env bash
# The sparse package for Windows 11's context menu, as the build makes it, read back on
# its own (msix_facts.py): every block hash and size of the block map recomputed from the
# zip, the content types covering every part, the signature accepted by
# "osslsigncode verify" against the certificate used (and refused against another, and
# once the package is tampered with), the manifest validated against Microsoft's published
# schemas, its verb class the Explorer command's constant, its COM path and executable
# files both MSIs install, its publisher the certificate's subject, its version the
# product's. Then a publisher's certificate made here (with a password): the DLL, the
# programs, the package and both MSIs each carry a signature that osslsigncode verifies.
# Then the certificates that must stop the build, each with its message and no product
# left behind.
#   test_package.sh ARCH ARCH_BUILD_DIR
set -uo pipefail
arch=${1:?usage: test_package.sh x64|x86 ARCH_BUILD_DIR}
build=$(cd "${2:?usage: test_package.sh x64|x86 ARCH_BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/installer
# Microsoft's published manifest schemas, made readable by libxml2 (see their README).
schemas=$here/appx-schemas
# The test decides which certificate and version each build gets.
unset ORVANE_SIGN_PFX ORVANE_SIGN_PASSWORD ORVANE_SIGN_TIMESTAMP_URL ORVANE_VERSION

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/tests/support/check.sh"
# The value of KEY in msix_facts.py's report FACTS.
fact() { awk -v key="$2: " 'index($0, key) == 1 { print substr($0, length(key) + 1) }' <<<"$1"; }
verifies() { # verifies FILE CA_PEM -> yes or no
  osslsigncode verify -in "$1" -CAfile "$2" >"$work/verify.log" 2>&1 && grep -q '^Succeeded' "$work/verify.log" &&
    echo yes || echo no
}
# Validates the manifest of PACKAGE against the schemas. desktop10 (drive roots) is newer
# than the published schemas, so its ItemType is taken out first; the count of elements
# taken out is printed before the result, so that an element of another namespace that the
# schemas do not know fails the validation.
schema_result() { # schema_result PACKAGE
  python3 - "$1" "$work/manifest.xml" <<'EOF'
import re, sys, zipfile
text = zipfile.ZipFile(sys.argv[1]).read('AppxManifest.xml').decode('utf-8')
text, n = re.subn(r'\s*<desktop10:ItemType\b.*?</desktop10:ItemType>', '', text, flags=re.S)
open(sys.argv[2], 'w', encoding='utf-8').write(text)
print(n, end=' ')
EOF
  xmllint --noout --schema "$schemas/all.xsd" "$work/manifest.xml" >"$work/xmllint.log" 2>&1 && echo valid ||
    { echo invalid; cat "$work/xmllint.log" >&2; }
}
# The Explorer command's class identifier: the text configuring the build wrote, else its
# definition in the header, read here without the build's own reader.
if [ -f "$build/ExplorerCommandClsid.txt" ]; then
  expected_clsid=$(tr -d '\r\n{}' <"$build/ExplorerCommandClsid.txt")
else
  read -r -a n <<<"$(sed -n '/CLSID_ExplorerCommand[[:space:]]*=/,/;/p' "$root/common/ExtensionIdentity.h" |
    grep -o '0[xX][0-9A-Fa-f]*' | head -n 11 | tr '\n' ' ')"
  expected_clsid=$( [ "${#n[@]}" -eq 11 ] && printf '%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X' "${n[@]}")
fi
check "the Explorer command's class identifier is known to the test" yes \
  "$([[ $expected_clsid =~ ^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$ ]] && echo yes || echo no)"

echo "== the package with the throwaway certificate"
out=$work/throwaway
mkdir -p "$work/tmp"
TMPDIR=$work/tmp bash "$root/installer/package.sh" "$arch" "$build" "$out" >/dev/null
check "package.sh exit code" 0 $?
msix=$out/Orvane-$arch.msix
facts=$(python3 "$here/msix_facts.py" "$msix")
check "the parts of the package" \
  "Assets/Square150x150Logo.png Assets/Square44x44Logo.png Assets/StoreLogo.png AppxManifest.xml AppxBlockMap.xml [Content_Types].xml AppxSignature.p7x" \
  "$(fact "$facts" parts)"
check "ZIP64 end record and locator" yes "$(fact "$facts" 'zip64 end record')"
check "block map hashes with SHA-256" "http://www.w3.org/2001/04/xmlenc#sha256" "$(fact "$facts" 'hash method')"
check "every block's hash, size and LfhSize recomputed equals the block map" none "$(fact "$facts" 'block map problems')"
check "every payload file is in the block map" none "$(fact "$facts" 'files outside the block map')"
check "the content types name every part" none "$(fact "$facts" 'parts without a content type')"
check "the footprint files' content types" \
  "/AppxBlockMap.xml=application/vnd.ms-appx.blockmap+xml /AppxManifest.xml=application/vnd.ms-appx.manifest+xml /AppxSignature.p7x=application/vnd.ms-appx.signature" \
  "$(fact "$facts" 'content type overrides')"
check "the images the manifest names are in the package" none "$(fact "$facts" 'missing images')"
check "the images' sizes (StoreLogo, Square150x150Logo, Square44x44Logo)" "50x50 150x150 44x44" "$(fact "$facts" 'image sizes')"

cer=$out/Orvane-$arch.cer
check "the public certificate is kept beside the package" yes "$([ -f "$cer" ] && echo yes || echo no)"
check "nothing else is left beside the package" "Orvane-$arch.cer Orvane-$arch.msix" "$(ls "$out" | sort | tr '\n' ' ' | sed 's/ $//')"
check "the private key and password are deleted" "" "$(ls -A "$work/tmp")"
openssl x509 -inform DER -in "$cer" -out "$work/throwaway.pem" 2>/dev/null
check "the .cer is a certificate alone" "1 0" \
  "$(grep -c 'BEGIN CERTIFICATE' "$work/throwaway.pem") $(openssl pkey -inform DER -in "$cer" -noout 2>/dev/null && echo 1 || echo 0)"
check "the throwaway certificate's subject" "subject=CN=Brindlewick Software Orvane Package" \
  "$(openssl x509 -in "$work/throwaway.pem" -noout -subject -nameopt RFC2253)"
check "the throwaway certificate is for code signing and no authority" "CA:FALSE Code Signing" \
  "$(openssl x509 -in "$work/throwaway.pem" -noout -ext extendedKeyUsage,basicConstraints | grep -oE 'Code Signing|CA:(TRUE|FALSE)' | sort | tr '\n' ' ' | sed 's/ $//')"
check "osslsigncode verifies the package against the certificate used" yes "$(verifies "$msix" "$work/throwaway.pem")"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Brindlewick Software Orvane Package' \
  -addext extendedKeyUsage=codeSigning -keyout "$work/other.key" -out "$work/other.pem" >/dev/null 2>&1
check "osslsigncode refuses the package against another certificate of the same name" no "$(verifies "$msix" "$work/other.pem")"
# A changed image: the block map and the signature must both tell.
python3 - "$msix" "$work/tampered.msix" <<'EOF'
import sys, zipfile
src, dst = sys.argv[1], sys.argv[2]
data = bytearray(open(src, 'rb').read())
info = zipfile.ZipFile(src).getinfo('Assets/StoreLogo.png')
at = info.header_offset + 30 + len(info.filename) + 100
data[at] ^= 0xFF
open(dst, 'wb').write(data)
EOF
check "a changed byte shows in the block map" yes \
  "$(fact "$(python3 "$here/msix_facts.py" "$work/tampered.msix" 2>/dev/null)" 'block map problems' | grep -q 'Assets/StoreLogo.png: block 0 hash' && echo yes || echo no)"
check "a changed byte breaks the signature" no "$(verifies "$work/tampered.msix" "$work/throwaway.pem")"

check "identity name" BrindlewickSoftware.Orvane "$(fact "$facts" 'identity Name')"
check "publisher is the certificate's subject" "CN=Brindlewick Software Orvane Package" "$(fact "$facts" 'identity Publisher')"
check "version is the product's, four parts" 1.0.0.0 "$(fact "$facts" 'identity Version')"
check "processor architecture" "$arch" "$(fact "$facts" 'identity ProcessorArchitecture')"
check "one application" 1 "$(fact "$facts" applications)"
check "the application runs as a medium-integrity win32 program" "mediumIL win32App" \
  "$(fact "$facts" 'trust level') $(fact "$facts" 'runtime behavior')"
check "no entry in the app list" none "$(fact "$facts" 'app list entry')"
check "external content allowed" true "$(fact "$facts" 'external content')"
check "capabilities" "runFullTrust unvirtualizedResources" "$(fact "$facts" capabilities)"
check "device family" "Windows.Desktop 10.0.19041.0" "$(fact "$facts" 'device family')"
check "the context-menu extension" windows.fileExplorerContextMenus "$(fact "$facts" 'menu extensions')"
check "the verbs for files, folders and drives name the Explorer command's class" \
  "desktop5:*=ChangeIcon:$expected_clsid desktop5:Directory=ChangeIcon:$expected_clsid desktop10:Drive=ChangeIcon:$expected_clsid" \
  "$(fact "$facts" verbs)"
check "the COM class: the Explorer command in orvane.dll, STA" "$expected_clsid:orvane.dll:STA" "$(fact "$facts" 'com classes')"
check "the manifest validates against the published schemas (one desktop10 element aside)" "1 valid" "$(schema_result "$msix")"

echo "== the version: the product's, with four parts"
while IFS='|' read -r given expected; do
  rm -rf "$work/version"
  result=$(ORVANE_VERSION=$given bash "$root/installer/package.sh" "$arch" "$build" "$work/version" 2>&1 >/dev/null)
  if [ "$expected" = refused ]; then
    check "ORVANE_VERSION=$given is refused with a message, no package" "refused: no package" \
      "$( [ -n "$result" ] && echo refused || echo accepted): $( [ -e "$work/version/Orvane-$arch.msix" ] && echo package || echo no package)"
  else
    check "ORVANE_VERSION=$given" "$expected" \
      "$(fact "$(python3 "$here/msix_facts.py" "$work/version/Orvane-$arch.msix" 2>/dev/null)" 'identity Version')"
  fi
done <<'EOF'
2.3|2.3.0.0
4.5.6.7|4.5.6.7
7.08.1|7.8.1.0
65535.0.0|65535.0.0.0
1.70000|refused
1.2.3.4.5|refused
1.0-beta|refused
EOF

echo "== the installers place the files the manifest names"
executable=$(fact "$facts" executable)
com_path=$(fact "$facts" 'com classes' | cut -d: -f2)
for flag in "" --per-user; do
  msi_out=$work/msi${flag}/Orvane.msi
  built=$(bash "$root/installer/build.sh" $flag "$arch" "$build" "$msi_out") || { check "build.sh $flag" 0 1; continue; }
  files=$(msiinfo export "$built" File | tr -d '\r' | awk -F'\t' 'NR > 3 { n = $3; sub(/^.*\|/, "", n); print n }')
  for name in "$com_path" "$executable"; do
    check "${flag:-all-users} MSI installs $name" yes "$(grep -qxF "$name" <<<"$files" && echo yes || echo no)"
  done
  check "${flag:-all-users} build makes the package beside the MSI" yes \
    "$([ -f "$(dirname "$msi_out")/Orvane-$arch.msix" ] && echo yes || echo no)"
done

echo "== a publisher's certificate: everything signed"
pub=$work/publisher
mkdir -p "$pub"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/C=GB/O=Brindlewick Test, Ltd/CN=Orvane Test Publisher' \
  -addext extendedKeyUsage=codeSigning -addext basicConstraints=critical,CA:FALSE \
  -keyout "$pub/key.pem" -out "$pub/cert.pem" >/dev/null 2>&1
password='test pass, 1'
openssl pkcs12 -export -inkey "$pub/key.pem" -in "$pub/cert.pem" -out "$pub/publisher.pfx" -passout "pass:$password"
for flag in "" --per-user; do
  dir=$pub/out${flag}
  built=$(ORVANE_SIGN_PFX=$pub/publisher.pfx ORVANE_SIGN_PASSWORD=$password \
    bash "$root/installer/build.sh" $flag "$arch" "$build" "$dir/Orvane.msi") || { check "signed build.sh $flag" 0 1; continue; }
  check "the ${flag:-all-users} MSI is signed by the publisher" yes "$(verifies "$built" "$pub/cert.pem")"
  check "the ${flag:-all-users} MSI is not accepted against the throwaway certificate" no "$(verifies "$built" "$work/throwaway.pem")"
  mkdir -p "$dir/extracted"
  (cd "$dir/extracted" && msiextract "$built" >/dev/null)
  signed=()
  while IFS= read -r f; do
    signed+=("$(basename "$f")=$(verifies "$f" "$pub/cert.pem")")
  done < <(find "$dir/extracted" -type f \( -iname '*.dll' -o -iname '*.exe' \) | sort)
  check "every DLL and program the ${flag:-all-users} MSI installs is signed by the publisher" \
    "$(find "$dir/extracted" -type f \( -iname '*.dll' -o -iname '*.exe' \) -printf '%f=yes\n' | sort | tr '\n' ' ' | sed 's/ $//')" \
    "$(printf '%s\n' "${signed[@]}" | sort | tr '\n' ' ' | sed 's/ $//')"
  check "the ${flag:-all-users} MSI installs orvane.dll and orvane.exe, signed" "orvane.dll=yes orvane.exe=yes" \
    "$(printf '%s\n' "${signed[@]}" | grep -E '^orvane\.(dll|exe)=' | sort | tr '\n' ' ' | sed 's/ $//')"
  check "the package beside the ${flag:-all-users} MSI is signed by the publisher" yes "$(verifies "$dir/Orvane-$arch.msix" "$pub/cert.pem")"
  check "no throwaway certificate beside it" no "$([ -e "$dir/Orvane-$arch.cer" ] && echo yes || echo no)"
done
pub_facts=$(python3 "$here/msix_facts.py" "$pub/out/Orvane-$arch.msix")
check "the package's publisher is the publisher's subject as Windows writes it" \
  'CN=Orvane Test Publisher, O="Brindlewick Test, Ltd", C=GB' "$(fact "$pub_facts" 'identity Publisher')"
check "that manifest validates too" "1 valid" "$(schema_result "$pub/out/Orvane-$arch.msix")"
check "the build's own orvane.dll stays as linked (only the installed copies are signed)" no \
  "$(osslsigncode verify -in "$build/server/orvane.dll" >/dev/null 2>&1 && echo yes || echo no)"

echo "== certificates that stop the build"
bad=$work/bad
mkdir -p "$bad"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Orvane Server Only' -addext extendedKeyUsage=serverAuth \
  -keyout "$bad/server.key" -out "$bad/server.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$bad/server.key" -in "$bad/server.pem" -out "$bad/server.pfx" -passout pass:pw
# An expired certificate: openssl ca sets past dates, which req cannot.
mkdir -p "$bad/ca"
: >"$bad/ca/index.txt"
cat >"$bad/ca/ca.cnf" <<EOF
[ca]
default_ca = expired
[expired]
database = $bad/ca/index.txt
new_certs_dir = $bad/ca
serial = $bad/ca/serial
default_md = sha256
policy = anything
x509_extensions = signing
unique_subject = no
[anything]
commonName = supplied
[signing]
extendedKeyUsage = codeSigning
basicConstraints = critical,CA:FALSE
EOF
echo 01 >"$bad/ca/serial"
openssl req -new -newkey rsa:2048 -nodes -subj '/CN=Orvane Expired' -keyout "$bad/expired.key" -out "$bad/expired.csr" >/dev/null 2>&1
openssl ca -batch -config "$bad/ca/ca.cnf" -selfsign -keyfile "$bad/expired.key" -in "$bad/expired.csr" \
  -startdate 20200101000000Z -enddate 20210101000000Z -out "$bad/expired.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$bad/expired.key" -in "$bad/expired.pem" -out "$bad/expired.pfx" -passout pass:pw
openssl pkcs12 -export -nokeys -in "$pub/cert.pem" -out "$bad/nokey.pfx" -passout pass:pw
echo 'not a certificate' >"$bad/junk.pfx"
check "the expired test certificate is expired" 1 \
  "$(openssl x509 -in "$bad/expired.pem" -noout -checkend 0 >/dev/null 2>&1; echo $?)"
# what | PFX | password | message
while IFS='|' read -r what pfx pass message; do
  for script in package.sh build.sh; do
    dir=$bad/out-$script
    mkdir -p "$dir"
    # Stale products of an earlier build must go too.
    touch "$dir/Orvane-$arch.msix" "$dir/Orvane-$arch.cer"
    [ $script = package.sh ] || touch "$dir/Orvane.msi"
    if [ $script = package.sh ]; then
      err=$(ORVANE_SIGN_PFX=$pfx ORVANE_SIGN_PASSWORD=$pass bash "$root/installer/package.sh" "$arch" "$build" "$dir" 2>&1 >/dev/null)
    else
      err=$(ORVANE_SIGN_PFX=$pfx ORVANE_SIGN_PASSWORD=$pass bash "$root/installer/build.sh" "$arch" "$build" "$dir/Orvane.msi" 2>&1 >/dev/null)
    fi
    status=$?
    check "$what: $script stops" 1 "$([ $status -ne 0 ] && echo 1 || echo 0)"
    check "$what: $script says why" yes "$(grep -qF "$message" <<<"$err" && echo yes || echo "no: $err")"
    check "$what: $script leaves no product" "" "$(ls -A "$dir")"
  done
done <<EOF
a missing file|$bad/missing.pfx|pw|does not exist
a wrong password|$pub/publisher.pfx|not the password|wrong password
no code-signing use|$bad/server.pfx|pw|not for code signing
an expired certificate|$bad/expired.pfx|pw|expired on
not a PFX file|$bad/junk.pfx|pw|is not a PFX
no private key|$bad/nokey.pfx|pw|holds no private key
EOF

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
