#!/usr/bin/env bash
# A shell for working by hand, with what the project's commands share (scripts/common.sh:
# build_arch and the other functions, the Wine prefix under the build folder, the locale),
# a private Xvfb display and the prefix ready, so that a test program runs as
# scripts/test.sh runs it. The shell it is started from keeps its own WINEPREFIX and
# everything else. On leaving, the X server it started and the Wine server of its prefix
# (the build's own) are ended.
#   bash scripts/shell.sh              an interactive bash
#   bash scripts/shell.sh CMD [ARG...] runs one command in it; its exit code is CMD's
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh" || exit 1
trap stop_services EXIT
# Wine binds the prefix's desktop to the display its first program saw: the X server
# comes first, and a Wine server of the prefix left from earlier is ended.
start_xvfb || exit 1
end_wine_server
ensure_prefix || exit 1
if [ "$#" -gt 0 ]; then
  "$@"
  exit
fi
rcfile=$(mktemp)
trap 'rm -f "$rcfile"; stop_services' EXIT
cat >"$rcfile" <<RC
[ -f ~/.bashrc ] && source ~/.bashrc
source "$here/common.sh"
choose_wine_loader
PS1="(orvane) \${PS1:-\\\$ }"
RC
echo "Orvane's shell: WINEPREFIX=$WINEPREFIX, DISPLAY=$DISPLAY; build_arch x64, then wine build/x64/tests/...; exit ends it"
ORVANE_SHELL=1 bash --rcfile "$rcfile" -i
