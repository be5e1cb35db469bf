#!/usr/bin/env bash
# Runs the store's and the server's test programs built for Windows on Arm on this x86-64
# machine: under Debian's arm64 Wine in an arm64 Debian 12 root, whose programs qemu's
# user-mode emulator runs (registered with binfmt_misc). Not part of scripts/test.sh.
#   sudo bash scripts/arm64-emulated.sh
# The root is made once in $BUILD_DIR/arm64-root (debootstrap --foreign --arch=arm64, the
# second stage through qemu, then wine, fonts-wine, xvfb and icoutils, whose icotool the
# tests read icon files with, by apt inside) and reused while its stamp is there; removing
# the folder makes it again. The programs are built into build/arm64
# (scripts/arm64-toolchain.sh first), which is bound into the root at the same path, as
# are scripts/ and the results' folder; the Wine prefix and the drives of
# scripts/common.sh are those of the build folder's path inside the root, so nothing
# outside the root is touched.
# EMULATED_PROGRAMS names the programs run (default "store server"); EMULATED_FILTER is a
# GoogleTest filter (default "*"); EMULATED_TIMEOUT ends a run that takes longer than that
# many seconds (default 1800), counted as one that died. A program that dies partway is
# run again one suite at a time, and a suite that dies one test at a time, so that every
# test gets its result; a test that dies is run once more with Wine's exception trace,
# which tells whether it died with x18 (the TEB register) cleared (see docs/building.md).
# Prints each step's time and the results, kept with the output in
# $BUILD_DIR/arm64-emulated/; exits non-zero when a test failed or died other than with
# x18 cleared.
# Needs root (debootstrap, mount, chroot) and the packages of `scripts/setup.sh emulated`.
set -euo pipefail
source "$(dirname "$0")/common.sh"

release=bookworm
root=$BUILD_DIR/arm64-root
stamp=$root/.orvane-root-complete
work=$BUILD_DIR/arm64-emulated
log=$work/arm64-emulated.log
summary=$work/summary.txt
programs=${EMULATED_PROGRAMS:-store server}
filter=${EMULATED_FILTER:-*}
limit=${EMULATED_TIMEOUT:-1800}
NICE=(nice -n 19)

seconds_since() { echo $(($(date +%s) - $1)); }
note() { echo "$*" | tee -a "$summary"; }

# ---- Inside the root: the prefix and the test programs -------------------------------
# Called as `arm64-emulated.sh --inside PROGRAM...` by the part below, in the chroot.

# run_program EXE FILTER OUT: one run of a test program; its output goes to OUT and its
# exit code to exit_code. Succeeds when GoogleTest reached its closing line (passed or
# failed), fails when it died first.
exit_code=0
run_program() {
  local exe=$1 filter=$2 out=$3
  exit_code=0
  "${NICE[@]}" timeout "$limit" wine "$exe" --gtest_brief=1 --gtest_filter="$filter" >"$out" 2>&1 </dev/null ||
    exit_code=$?
  cat "$out" >>"$log"
  grep -q '^\[  PASSED  \] [0-9]* test' "$out"
}

# The tests that a run's output names as failed.
failed_in() { sed -n '/^\[  FAILED  \] [0-9]* tests\{0,1\},/d; s/^\[  FAILED  \] \([A-Za-z0-9_/.]*\).*/\1/p' "$1" | sort -u; }
passed_in() { sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$1"; }
skipped_in() { sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$1" | grep . || echo 0; }

# Adds a finished run's passed, skipped and failed tests to the counts.
tally() {
  passed=$((passed + $(passed_in "$1")))
  skipped=$((skipped + $(skipped_in "$1")))
  mapfile -t -O "${#failed[@]}" failed < <(failed_in "$1")
}

# The tests FILTER selects, one full name a line.
list_tests() {
  "${NICE[@]}" wine "$1" --gtest_list_tests --gtest_filter="$2" 2>/dev/null </dev/null | tr -d '\r' | awk '
    /^[^ ]/ { suite = $1; next }
    /^  / { print suite $1 }'
}

# A test that died (or a program that failed outside its tests) is run again with Wine's
# exception trace, which its child processes inherit: the register dump of a fault says
# whether x18 was zero there.
classify_death() {
  local exe=$1 test=$2 out=$work/trace.txt
  WINEDEBUG=+seh "${NICE[@]}" timeout "$limit" wine "$exe" --gtest_brief=1 --gtest_filter="$test" >"$out" 2>&1 </dev/null || true
  if grep -q 'KiUserExceptionDispatcher.* x18=0000000000000000 ' "$out"; then
    echo x18
  else
    echo other
  fi
}

# A test that dies skips its clean-up, and what it left in the registry (a fixture's
# keys) would fail the tests after it: the runs start from a copy of a prefix that no test
# has run in, taken again after each run that died.
pristine=${WINEPREFIX%/}-pristine
fresh_prefix() {
  end_wine_server
  rm -rf --one-file-system "$WINEPREFIX"
  cp -a "$pristine" "$WINEPREFIX"
}

inside() {
  local status=0 begin name exe out total passed skipped failed x18 other suite tests t outside
  start_xvfb
  begin=$(date +%s)
  (WINEPREFIX=$pristine && ensure_prefix && end_wine_server) >>"$log" 2>&1
  fresh_prefix
  note "prefix ready: $(seconds_since "$begin") s ($WINEPREFIX in the root)"
  for name in "$@"; do
    exe=$BUILD_DIR/arm64/tests/$name/orvane_${name}_tests.exe
    out=$work/$name.txt
    begin=$(date +%s)
    passed=0 skipped=0 failed=() x18=() other=() outside=
    if run_program "$exe" "$filter" "$out"; then
      passed=$(passed_in "$out")
      skipped=$(skipped_in "$out")
      mapfile -t failed < <(failed_in "$out")
      note "orvane_${name}_tests: one run, $(seconds_since "$begin") s"
      # A failure of the whole program's set-up skips every test and names none.
      if [ "$exit_code" -ne 0 ] && [ "${#failed[@]}" -eq 0 ]; then
        fresh_prefix
        outside=$(classify_death "$exe" "$filter")
        fresh_prefix
        note "orvane_${name}_tests: ended with exit code $exit_code outside its tests" \
          "($(tr -d '\r' <"$out" | grep -m 1 -A 4 ': Failure$' | tr -s ' \n' ' '))$([ "$outside" = x18 ] && echo ', with x18 cleared')"
        [ "$outside" = x18 ] || status=1
      fi
    else
      note "orvane_${name}_tests: died partway ($(grep -m 1 '^wine: ' "$out" || echo 'no message')) after" \
        "$(seconds_since "$begin") s; run again one suite at a time"
      fresh_prefix
      list_tests "$exe" "$filter" >"$work/$name-tests.txt"
      for suite in $(sed 's/\..*//' "$work/$name-tests.txt" | uniq); do
        tests=$(grep "^$suite\." "$work/$name-tests.txt" | paste -sd:)
        if run_program "$exe" "$tests" "$out"; then
          tally "$out"
          continue
        fi
        fresh_prefix
        for t in $(grep "^$suite\." "$work/$name-tests.txt"); do
          if run_program "$exe" "$t" "$out"; then
            tally "$out"
            continue
          fi
          fresh_prefix
          if [ "$(classify_death "$exe" "$t")" = x18 ]; then
            x18+=("$t")
          else
            other+=("$t")
          fi
          fresh_prefix
        done
      done
      note "orvane_${name}_tests: all suites in $(seconds_since "$begin") s"
    fi
    total=$((passed + skipped + ${#failed[@]} + ${#x18[@]} + ${#other[@]}))
    note "orvane_${name}_tests: $total tests: $passed passed, $skipped skipped, ${#failed[@]} failed," \
      "${#x18[@]} died with x18 cleared, ${#other[@]} died otherwise"
    for t in "${failed[@]}"; do note "  failed: $t"; done
    for t in "${x18[@]}"; do note "  died with x18 cleared: $t"; done
    for t in "${other[@]}"; do note "  died: $t"; done
    [ "${#failed[@]}" -eq 0 ] && [ "${#other[@]}" -eq 0 ] || status=1
  done
  stop_services
  return $status
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
  exit
fi

# ---- Outside: the emulator, the root, the build ---------------------------------------
[ "$(id -u)" -eq 0 ] || { echo "arm64-emulated: debootstrap, mount and chroot need root" >&2; exit 1; }
for tool in qemu-aarch64-static debootstrap; do
  command -v "$tool" >/dev/null ||
    { echo "arm64-emulated: $tool is missing: run scripts/setup.sh emulated (as root)" >&2; exit 1; }
done
for name in $programs; do
  case $name in store | server) ;; *) echo "arm64-emulated: EMULATED_PROGRAMS takes store and server, not $name" >&2; exit 2 ;; esac
done

# binfmt_misc hands the root's arm64 programs to qemu. Debian's entry opens the emulator
# when it is registered (flag F), so the root needs no copy of it.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  cat /usr/lib/binfmt.d/qemu-aarch64.conf >/proc/sys/fs/binfmt_misc/register
fi
if [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-aarch64)" != enabled ]; then
  echo "arm64-emulated: binfmt_misc's qemu-aarch64 entry is disabled (/proc/sys/fs/binfmt_misc/qemu-aarch64)" >&2
  exit 1
fi

# Everything mounted below the root, deepest first.
mounts_below() { awk -v r="$root/" 'index($2 "/", r) == 1 { print $2 }' /proc/mounts | sort -r; }
# Processes whose root is this root (a Wine server or an X server left by a test).
processes_inside() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && echo "${p#/proc/}"
  done
  return 0
}
unmount_all() {
  local pid m
  for pid in $(processes_inside); do kill "$pid" 2>/dev/null || true; done
  [ -z "$(processes_inside)" ] || sleep 1
  for pid in $(processes_inside); do kill -9 "$pid" 2>/dev/null || true; done
  for m in $(mounts_below); do
    umount "$m" 2>/dev/null || umount -l "$m" || true
  done
  if [ -n "$(mounts_below)" ]; then
    echo "arm64-emulated: still mounted below $root:" $(mounts_below) >&2
    return 1
  fi
}
mount_all() {
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
}
in_root() {
  "${NICE[@]}" chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root DEBIAN_FRONTEND=noninteractive "$@"
}

mkdir -p "$work"
: >"$log"
: >"$summary"
start=$(date +%s)
unmount_all
trap unmount_all EXIT

if [ -f "$stamp" ]; then
  note "root: $root, made before (its figures: $(tr '\n' ' ' <"$stamp"))"
else
  source "$ROOT/scripts/apt-sources.sh"
  mirror=${EMULATED_MIRROR:-$(apt_entries | awk -F'\t' -v s="$release" '$2 == s { print $1; exit }')}
  [ -n "$mirror" ] || { echo "arm64-emulated: no $release source in this machine's apt (set EMULATED_MIRROR)" >&2; exit 1; }
  [ ! -e "$root" ] || rm -rf --one-file-system "$root"
  echo "== the arm64 root, from $mirror (output in $log)"
  begin=$(date +%s)
  "${NICE[@]}" debootstrap --foreign --arch=arm64 --variant=minbase "$release" "$root" "$mirror" >>"$log" 2>&1
  first=$(seconds_since "$begin")
  begin=$(date +%s)
  in_root /debootstrap/debootstrap --second-stage >>"$log" 2>&1
  second=$(seconds_since "$begin")
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  mount_all
  begin=$(date +%s)
  in_root /bin/sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends wine wine64 fonts-wine xvfb icoutils' >>"$log" 2>&1
  wine_seconds=$(seconds_since "$begin")
  unmount_all
  printf 'debootstrap %s s + %s s (second stage emulated), wine %s s, %s\n' "$first" "$second" "$wine_seconds" \
    "$(du -sxh "$root" | cut -f1)" >"$stamp"
  note "root: $root, made: $(cat "$stamp")"
fi

echo "== the arm64 test programs (output in $log)"
begin=$(date +%s)
"${NICE[@]}" bash "$ROOT/scripts/arm64-toolchain.sh" >>"$log" 2>&1
"${NICE[@]}" cmake -S "$ROOT" -B "$BUILD_DIR/arm64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-arm64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVANE_ARM64_TOOLCHAIN="$BUILD_DIR/toolchain-arm64" >>"$log" 2>&1
targets=()
for name in $programs; do targets+=(--target "orvane_${name}_tests"); done
"${NICE[@]}" cmake --build "$BUILD_DIR/arm64" -j "$(nproc)" "${targets[@]}" >>"$log" 2>&1
note "build: $(seconds_since "$begin") s"

mount_all
for folder in "$BUILD_DIR/arm64" "$ROOT/scripts" "$work"; do
  mkdir -p "$root$folder"
  mount --bind "$folder" "$root$folder"
done
mount -o remount,bind,ro "$root$ROOT/scripts"
note "wine in the root: $(in_root wine --version 2>/dev/null | head -n 1)"
echo "== the tests, under the emulated Wine (filter $filter)"
status=0
in_root BUILD_DIR="$BUILD_DIR" EMULATED_FILTER="$filter" EMULATED_TIMEOUT="$limit" /bin/bash "$ROOT/scripts/arm64-emulated.sh" --inside $programs || status=$?
note "total: $(seconds_since "$start") s"
exit $status
