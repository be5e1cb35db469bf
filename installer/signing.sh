# The signing certificate of a build, for package.sh and build.sh (sourced).
#
# ORVANE_SIGN_PFX names a publisher's PFX (PKCS#12) file and ORVANE_SIGN_PASSWORD its
# password: signing_load checks that it opens, holds a private key, is meant for code
# signing and is valid now, and stops the build with a message that says which of these
# fails, before anything is signed. Without ORVANE_SIGN_PFX, signing_load_throwaway makes
# a self-signed code-signing certificate whose private key lives only in a private
# temporary folder that signing_end deletes, so that the certificate can vouch for the one
# package signed with it and for nothing else.
# ORVANE_SIGN_TIMESTAMP_URL, when set, has every signature timestamped by that server, so
# that it stays valid after the certificate expires.
#
# After signing_load: SIGN_CERT_PEM (the certificate), SIGN_SUBJECT (its subject as
# Windows writes it, which a package's Publisher must equal), SIGN_THROWAWAY (1 or empty).

THROWAWAY_SUBJECT='CN=Brindlewick Software Orvane Package'

signing_fail() {
  echo "signing: $*" >&2
  signing_end
  return 1
}

# A folder only this user can read, for the password and (throwaway) the private key.
signing_private_dir() {
  [ -n "${SIGN_DIR:-}" ] && return
  SIGN_DIR=$(umask 077 && mktemp -d "${TMPDIR:-/tmp}/orvane-signing.XXXXXX")
}

# The subject of certificate PEM as Windows writes it ("CN=..., O=..., C=..."): the
# relative names most specific first, ", " between them, a value with a special character
# in double quotes.
signing_windows_subject() {
  openssl x509 -in "$1" -noout -subject -nameopt RFC2253,-esc_msb,utf8 | sed 's/^subject=//' |
    python3 -c '
import re, sys
names = {"ST": "S", "emailAddress": "E", "street": "STREET", "title": "T", "GN": "G",
         "initials": "I", "serialNumber": "SERIALNUMBER"}
text = sys.stdin.read().rstrip("\n")
out = []
for rdn in re.split(r"(?<!\\),", text):
    parts = []
    for ava in re.split(r"(?<!\\)\+", rdn):
        key, _, value = ava.partition("=")
        value = re.sub(r"\\(.)", r"\1", value)
        if re.search(r"[,+=\"\n<>#;]", value) or value != value.strip():
            value = "\"" + value.replace("\"", "\"\"") + "\""
        parts.append(names.get(key, key) + "=" + value)
    out.append(" + ".join(parts))
print(", ".join(out))'
}

# Checks the publisher's certificate named by ORVANE_SIGN_PFX (see above).
signing_load() {
  local pfx=$ORVANE_SIGN_PFX err openssl_pkcs12=(openssl pkcs12)
  SIGN_THROWAWAY=
  [ -f "$pfx" ] || signing_fail "the signing certificate $pfx (ORVANE_SIGN_PFX) does not exist" || return 1
  signing_private_dir
  printf '%s\n' "${ORVANE_SIGN_PASSWORD-}" >"$SIGN_DIR/password"
  SIGN_PFX=$pfx
  SIGN_CERT_PEM=$SIGN_DIR/certificate.pem
  # PFX files exported by older Windows use ciphers that OpenSSL 3 keeps in its legacy
  # provider.
  if ! err=$("${openssl_pkcs12[@]}" -in "$pfx" -passin "file:$SIGN_DIR/password" -nokeys -clcerts -out "$SIGN_CERT_PEM" 2>&1); then
    if [[ $err == *nsupported* ]] || [[ $err == *RC2* ]]; then
      openssl_pkcs12+=(-legacy)
      err=$("${openssl_pkcs12[@]}" -in "$pfx" -passin "file:$SIGN_DIR/password" -nokeys -clcerts -out "$SIGN_CERT_PEM" 2>&1) && err=
    fi
    if [ -n "$err" ]; then
      if [[ ${err,,} == *"mac verify"* ]]; then
        signing_fail "wrong password for the signing certificate $pfx (ORVANE_SIGN_PASSWORD)" || return 1
      fi
      signing_fail "the signing certificate $pfx is not a PFX (PKCS#12) file that opens: $(head -n 1 <<<"$err")" || return 1
    fi
  fi
  "${openssl_pkcs12[@]}" -in "$pfx" -passin "file:$SIGN_DIR/password" -nocerts -nodes 2>/dev/null |
    grep -q 'PRIVATE KEY' || signing_fail "the signing certificate $pfx holds no private key" || return 1
  grep -q 'BEGIN CERTIFICATE' "$SIGN_CERT_PEM" ||
    signing_fail "the signing certificate $pfx holds no certificate for its private key" || return 1
  openssl x509 -in "$SIGN_CERT_PEM" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
    signing_fail "the signing certificate $pfx is not for code signing (its extended key usage lacks Code Signing)" || return 1
  local not_before not_after
  not_before=$(openssl x509 -in "$SIGN_CERT_PEM" -noout -startdate | sed 's/^notBefore=//')
  not_after=$(openssl x509 -in "$SIGN_CERT_PEM" -noout -enddate | sed 's/^notAfter=//')
  openssl x509 -in "$SIGN_CERT_PEM" -noout -checkend 0 >/dev/null ||
    signing_fail "the signing certificate $pfx expired on $not_after" || return 1
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    signing_fail "the signing certificate $pfx is not valid before $not_before" || return 1
  SIGN_SUBJECT=$(signing_windows_subject "$SIGN_CERT_PEM") && [ -n "$SIGN_SUBJECT" ] ||
    signing_fail "cannot read the subject of the signing certificate $pfx" || return 1
}

# Makes the throwaway certificate (see above).
signing_load_throwaway() {
  signing_private_dir
  SIGN_THROWAWAY=1
  SIGN_PFX=$SIGN_DIR/throwaway.pfx
  SIGN_CERT_PEM=$SIGN_DIR/certificate.pem
  openssl rand -hex 24 >"$SIGN_DIR/password"
  openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 3650 \
    -keyout "$SIGN_DIR/key.pem" -out "$SIGN_CERT_PEM" -subj "/$THROWAWAY_SUBJECT" \
    -addext 'basicConstraints=critical,CA:FALSE' -addext 'keyUsage=critical,digitalSignature' \
    -addext 'extendedKeyUsage=codeSigning' >/dev/null 2>&1 ||
    signing_fail "openssl could not make the throwaway certificate" || return 1
  openssl pkcs12 -export -inkey "$SIGN_DIR/key.pem" -in "$SIGN_CERT_PEM" -out "$SIGN_PFX" \
    -passout "file:$SIGN_DIR/password" >/dev/null 2>&1 ||
    signing_fail "openssl could not make the throwaway certificate's PFX" || return 1
  rm -f "$SIGN_DIR/key.pem"
  SIGN_SUBJECT=$(signing_windows_subject "$SIGN_CERT_PEM")
  [ "$SIGN_SUBJECT" = "$THROWAWAY_SUBJECT" ] ||
    signing_fail "the throwaway certificate's subject is '$SIGN_SUBJECT', not '$THROWAWAY_SUBJECT'" || return 1
}

# Signs FILE in place (Authenticode for programs, DLLs and MSIs; the package signature
# for an MSIX): a file that cannot be signed is left out of the product, not shipped
# unsigned.
sign_file() {
  local file=$1 log
  local args=(sign -pkcs12 "$SIGN_PFX" -readpass "$SIGN_DIR/password" -h sha256 -n Orvane)
  [ -z "${ORVANE_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$ORVANE_SIGN_TIMESTAMP_URL")
  rm -f "$file.signed"
  if ! log=$(osslsigncode "${args[@]}" -in "$file" -out "$file.signed" 2>&1); then
    rm -f "$file" "$file.signed"
    echo "signing: osslsigncode could not sign $file: $log" >&2
    return 1
  fi
  mv "$file.signed" "$file"
}

# Deletes the password and, for the throwaway certificate, its private key.
signing_end() {
  [ -n "${SIGN_DIR:-}" ] && rm -rf "$SIGN_DIR"
  SIGN_DIR=
}
