# What this machine's apt takes its packages from, for scripts/setup.sh (the mirror to
# enable a release's backports from) and scripts/fresh-debian.sh (the mirror to make a
# fresh root from). Source it.

# Every enabled "deb" entry of apt's sources, one line per URI and suite: the URI, the
# suite and the entry's Signed-By file ("-" without one). Reads the one-line form (*.list)
# and the deb822 form (*.sources), as apt does; files with other endings, which apt
# ignores, are left out, and so is EXCEPT_FILE.
apt_entries() { # [EXCEPT_FILE]
  local f except=${1:-}
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "$f" != "$except" ] || continue
    awk '
      { sub(/#.*/, "") }
      $1 == "deb" {
        signed = "-"; i = 2
        if ($2 ~ /^\[/) {
          options = ""
          for (; i <= NF; i++) { options = options " " $i; if ($i ~ /\]$/) { i++; break } }
          if (match(options, /signed-by=[^] ]+/)) signed = substr(options, RSTART + 10, RLENGTH - 10)
        }
        if ($(i + 1) != "") print $i "\t" $(i + 1) "\t" signed
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$except" ] || continue
    awk '
      function flush(   n, s, i, j, uris, suites) {
        if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no") {
          n = split(uri, uris, " "); s = split(suite, suites, " ")
          for (i = 1; i <= n; i++) for (j = 1; j <= s; j++)
            print uris[i] "\t" suites[j] "\t" (signed == "" ? "-" : signed)
        }
        types = uri = suite = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { next }
      {
        field = tolower($1); sub(/:$/, "", field)
        value = $0; sub(/^[^:]*:[ \t]*/, "", value); sub(/[ \t]+$/, "", value)
        if (field == "types") types = value
        else if (field == "uris") uri = value
        else if (field == "suites") suite = value
        else if (field == "enabled") enabled = value
        else if (field == "signed-by" && value ~ /^\//) signed = value
      }
      END { flush() }' "$f"
  done
}
