# Shared by the project's commands: build folders, the Wine prefix and the X server.
# The commands source it; BUILD_DIR may be set to use another build folder. It changes the
# environment of whoever sources it (WINEPREFIX, WINEDEBUG, the locale, PATH): a shell of
# your own gets all of that from scripts/shell.sh, a subshell, and is refused here, so that
# it keeps its own prefix.
if [[ $- == *i* ]] && [ -z "${ORVANE_SHELL:-}" ]; then
  echo "common.sh changes WINEPREFIX and more in the shell that sources it; for a shell to work in, run" \
    "bash scripts/shell.sh, which opens one and leaves this one as it is" >&2
  return 1
fi
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
# The prefix is always under the build folder: a WINEPREFIX from the caller's environment
# (often ~/.wine, the person's own) is not used, as the tests rewrite the registry.
# ORVANE_WINEPREFIX names another prefix on purpose.
export WINEPREFIX=${ORVANE_WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine names Unix files in the locale's character set: without a UTF-8 locale (a system
# or a session with no LANG, where it is ASCII) no file with a name outside ASCII can be
# made, and every test of such names fails. C.UTF-8 comes with the C library (Debian's
# libc-bin).
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Configures and builds one architecture (x64, x86 or arm64) into $BUILD_DIR/<arch>.
# arm64 (Windows on Arm) first makes its toolchain in $BUILD_DIR/toolchain-arm64 (once:
# scripts/arm64-toolchain.sh), and builds only what ships (the DLL, the two programs, the
# installers' custom action): nothing here runs arm64 programs, so its tests are the
# checks of arm64_checks.
build_arch() {
  local arch=$1 toolchain=$ROOT/cmake/mingw-$1.cmake targets=() options=()
  if [ "$arch" = arm64 ]; then
    bash "$ROOT/scripts/arm64-toolchain.sh" || return 1
    toolchain=$ROOT/cmake/toolchain-arm64.cmake
    options=(-DORVANE_ARM64_TOOLCHAIN="$BUILD_DIR/toolchain-arm64")
    targets=(--target orvane orvane_cli orvane_dialog_app orvane_setup)
  fi
  cmake -S "$ROOT" -B "$BUILD_DIR/$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
  cmake --build "$BUILD_DIR/$arch" -j "$(nproc)" "${targets[@]}"
}

# The checks of the arm64 build, from Linux: each file's PE headers, exports and imports
# (tests/check_arm64.sh), the arm64 sparse package as the other architectures' is checked
# (tests/installer/test_package.sh, which builds both MSIs too) and the two Windows Installer
# packages (tests/installer/check_arm64_msi.sh). Each reports its own failures; all run.
arm64_checks() {
  local status=0
  echo "== arm64: the files' headers, exports and imports"
  bash "$ROOT/tests/check_arm64.sh" "$BUILD_DIR/arm64" || status=1
  echo "== arm64: the sparse package"
  bash "$ROOT/tests/installer/test_package.sh" arm64 "$BUILD_DIR/arm64" || status=1
  echo "== arm64: the Windows Installer packages"
  bash "$ROOT/tests/installer/check_arm64_msi.sh" "$BUILD_DIR/arm64" || status=1
  return $status
}

# Runs a command with its output kept in LOG; when it fails, shows that output and the
# command, and fails.
run_logged() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1 </dev/null; then
    echo "failed: $* (its output, kept in $log, follows)" >&2
    cat "$log" >&2
    return 1
  fi
}

# Some hosts run 64-bit code only (a kernel without IA-32 emulation): Wine's 32-bit
# loader cannot start there, and `wine`, which prefers it, fails for every program. On
# such a host `wine` (and the loaders of Wine's own programs) are pointed at the 64-bit
# loader, which runs the x64 programs; HOST_RUNS_X86 is then empty and the x86 test
# programs are not run. Where Wine's 32-bit part (wine32) is not installed at all (setup.sh
# installs the rest without it when its packages cannot be had), the x86 programs cannot
# run either, and the same holds. X86_NOT_RUN says why. Called once Wine is installed.
HOST_RUNS_X86=1
X86_NOT_RUN=
choose_wine_loader() {
  local loader=/usr/lib/wine/wine64 shims=$BUILD_DIR/wine64-only name
  if [ ! -e /usr/lib/wine/wine ] && [ -x "$loader" ]; then
    HOST_RUNS_X86=
    X86_NOT_RUN="Wine's 32-bit part (the wine32:i386 package) is not installed, so Wine cannot start the x86 programs"
  fi
  if [ -x /usr/lib/wine/wine ] && [ -x "$loader" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    HOST_RUNS_X86=
    X86_NOT_RUN="this host runs 64-bit code only (its kernel has no IA-32 emulation), so Wine cannot start the x86 programs"
    mkdir -p "$shims"
    for name in wine wine-stable; do
      printf '#!/bin/sh\nexport WINELOADER=%s\nexec %s "$@"\n' "$loader" "$loader" >"$shims/$name"
      chmod +x "$shims/$name"
    done
    case ":$PATH:" in *":$shims:"*) ;; *) export PATH="$shims:$PATH" ;; esac
  fi
}

# Whether the prefix is one of the build's own: under the build folder, or made by
# ensure_prefix (which marks it). Only such a prefix's Wine server is ever ended here; a
# prefix named with ORVANE_WINEPREFIX that this did not make may have programs running.
prefix_is_ours() {
  case "${WINEPREFIX%/}/" in "${BUILD_DIR%/}/"*) return 0 ;; esac
  [ -f "$WINEPREFIX/.orvane-prefix" ]
}

# Ends the prefix's Wine server and what runs in it, when the prefix is ours.
end_wine_server() {
  if prefix_is_ours; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}

# Creates the Wine prefix under the build folder once (never the home folder's).
ensure_prefix() {
  choose_wine_loader
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    local log=${WINEPREFIX%/}-setup.log
    run_logged "$log" wineboot --init || return 1
    wineserver -w
    # No window manager: without this Wine waits about 2 s whenever a window closes.
    run_logged "$log" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f || return 1
    # A crash must never open a dialog that hangs an unattended run.
    run_logged "$log" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f || return 1
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wineboot left no registry in $WINEPREFIX (see $log)" >&2
      return 1
    fi
    : >"$WINEPREFIX/.orvane-prefix"
  fi
  # Two drive letters for the tests of folders where Windows distrusts Desktop.ini: R: is a
  # network share and U: a removable drive to Wine, each a folder under the build folder.
  # Wine's mount manager reads the drives' types when it starts, so a running server of
  # this prefix is ended first (when the prefix is ours; another's takes them when its
  # server next starts).
  local letter kind
  for letter in r:network u:floppy; do
    kind=${letter#*:}
    letter=${letter%%:*}
    mkdir -p "$BUILD_DIR/wine-drives/$kind"
    if [ "$(readlink "$WINEPREFIX/dosdevices/$letter:")" != "$BUILD_DIR/wine-drives/$kind" ] ||
      ! grep -qi "^\"$letter:\"=\"$kind\"" "$WINEPREFIX/system.reg"; then
      ln -sfn "$BUILD_DIR/wine-drives/$kind" "$WINEPREFIX/dosdevices/$letter:"
      end_wine_server
      run_logged "${WINEPREFIX%/}-setup.log" wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /t REG_SZ \
        /d "$kind" /f /reg:64 || return 1
      wineserver -w
    fi
  done
  # Without Wine's own fonts (Debian's fonts-wine) in the prefix, "MS Sans Serif" falls
  # back to a wider font and the caption buttons lose their glyphs.
  local font
  for font in sserife.fon marlett.ttf tahoma.ttf tahomabd.ttf; do
    if [ -f "/usr/share/wine/fonts/$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/$font" ]; then
      cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
  done
  # Start the server and Wine's own services now, detached from our output: services
  # that a test program started would hold its pipes open and keep CTest waiting.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# Starts a private X server for dialogs and points DISPLAY at it. A server that does not
# come up is ended, not left running, and the next display number is tried.
start_xvfb() {
  local n log=
  mkdir -p "$BUILD_DIR"
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # An X server of another root (a chroot, a container sharing the network) shows only
    # its abstract socket, which clients try first.
    grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null && continue
    log=$BUILD_DIR/xvfb-$n.log
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$log" 2>&1 &
    XVFB_PID=$!
    # Ours once its lock file names it (another server may have taken the number first).
    for _ in $(seq 50); do
      if [ -e "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$XVFB_PID" ]; then
        export DISPLAY=":$n"
        return
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    unset XVFB_PID
  done
  echo "could not start Xvfb${log:+; the output of the last attempt ($log):}" >&2
  [ -z "$log" ] || cat "$log" >&2
  return 1
}

# Ends the prefix's Wine server (when it is ours) and the X server that start_xvfb started.
stop_services() {
  end_wine_server
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
