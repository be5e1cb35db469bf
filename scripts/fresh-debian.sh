#!/usr/bin/env bash
# Runs the README's two commands on a Debian 12 that has never seen this project: makes a
# minimal bookworm root with debootstrap (variant minbase) in $BUILD_DIR/fresh-debian/root,
# puts a clean clone of this repository's HEAD into it as /orvane (git clone: no build
# folder, no uncommitted change), and runs inside it, as root with chroot and an empty
# environment, `bash scripts/run.sh` and then `bash scripts/test.sh`.
#   sudo bash scripts/fresh-debian.sh
# FRESH_ARCHS (default x64) is handed to test.sh as ORVANE_ARCHS; "x64 x86" builds both.
# The mirror is the one this machine's apt takes bookworm from (FRESH_MIRROR names
# another). Needs root and debootstrap, which is installed when missing. It takes about
# three quarters of an hour on two cores (docs/building.md) and is not part of CI.
# Every step's output goes to $BUILD_DIR/fresh-debian/fresh-debian.log; the summary (each
# step's time and exit code, the packages setup.sh installed) is printed at the end and
# kept in summary.txt. The root stays for a look (unmounted) until the next run replaces it.
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$ROOT/scripts/apt-sources.sh"

release=bookworm
archs=${FRESH_ARCHS:-x64}
work=$BUILD_DIR/fresh-debian
root=$work/root
log=$work/fresh-debian.log
summary=$work/summary.txt

[ "$(id -u)" -eq 0 ] || { echo "fresh-debian: debootstrap, mount and chroot need root" >&2; exit 1; }

# Everything mounted below the root, deepest first.
mounts_below() { awk -v r="$root/" 'index($2 "/", r) == 1 { print $2 }' /proc/mounts | sort -r; }
# Processes whose root is the fresh root (a Wine server or an X server left by a command).
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
  sleep 1
  for pid in $(processes_inside); do kill -9 "$pid" 2>/dev/null || true; done
  for m in $(mounts_below); do
    umount "$m" 2>/dev/null || umount -l "$m" || true
  done
  if [ -n "$(mounts_below)" ]; then
    echo "fresh-debian: still mounted below $root:" $(mounts_below) >&2
    return 1
  fi
}
trap unmount_all EXIT

mkdir -p "$work"
# The last run's root goes first; never while anything is mounted in it (a bound /dev
# would be emptied with it).
unmount_all
if [ -e "$root" ]; then
  rm -rf --one-file-system "$root"
fi
: >"$log"
: >"$summary"
note() { echo "$*" | tee -a "$summary"; }
seconds_since() { echo $(($(date +%s) - $1)); }

if ! command -v debootstrap >/dev/null; then
  echo "== installing debootstrap on this machine"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >>"$log" 2>&1
fi
mirror=${FRESH_MIRROR:-$(apt_entries | awk -F'\t' -v s="$release" '$2 == s { print $1; exit }')}
[ -n "$mirror" ] || { echo "fresh-debian: no $release source in this machine's apt (set FRESH_MIRROR)" >&2; exit 1; }
commit=$(git -C "$ROOT" rev-parse HEAD)
if [ -n "$(git -C "$ROOT" status --porcelain --untracked-files=no)" ]; then
  echo "fresh-debian: the work tree has uncommitted changes; the fresh root gets HEAD ($commit) without them"
fi

note "fresh Debian $release root: $root (debootstrap --variant=minbase from $mirror)"
note "commit: $commit"
note "test architectures: $archs"
start=$(date +%s)
echo "== debootstrap (output in $log)"
debootstrap --variant=minbase --arch=amd64 "$release" "$root" "$mirror" >>"$log" 2>&1
note "debootstrap: $(seconds_since "$start") s, $(chroot "$root" dpkg-query -W -f='.\n' | wc -l) packages"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

git clone -q --no-checkout "$ROOT" "$root/orvane"
git -C "$root/orvane" checkout -q --detach "$commit"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"

chroot "$root" dpkg-query -W -f='${Package}:${Architecture}\n' | sort >"$work/packages-before.txt"
# run_inside NAME COMMAND: runs COMMAND in /orvane of the root, in an empty environment
# but for PATH, HOME and the architectures, and notes its time and exit code.
run_inside() {
  local name=$1 command=$2 begin status=0
  echo "== $name: $command (output in $log)"
  echo "== $name: $command" >>"$log"
  begin=$(date +%s)
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root ORVANE_ARCHS="$archs" /bin/bash -c "cd /orvane && $command" >>"$log" 2>&1 </dev/null || status=$?
  note "$name: exit code $status, $(seconds_since "$begin") s"
  return 0
}
run_inside "main job" "bash scripts/run.sh"
run_inside "tests" "bash scripts/test.sh"
chroot "$root" dpkg-query -W -f='${Package}:${Architecture}\n' | sort >"$work/packages-after.txt"

note "setup.sh installed $(comm -13 "$work/packages-before.txt" "$work/packages-after.txt" | wc -l) packages" \
  "(list: $work/packages-after.txt less packages-before.txt); its own lines:"
grep -a '^setup: ' "$log" | tee -a "$summary"
for f in "$root/etc/apt/sources.list.d/orvane-backports.sources" "$root/etc/apt/preferences.d/orvane-backports"; do
  [ -f "$f" ] && note "written by setup.sh: ${f#"$root"}"
done
note "osslsigncode in the root: $(chroot "$root" osslsigncode --version 2>/dev/null | head -n 1 || echo none)"
note "total: $(seconds_since "$start") s"
grep -q 'exit code [1-9]' "$summary" && exit 1
exit 0
