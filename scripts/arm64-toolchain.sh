#!/usr/bin/env bash
# Makes a toolchain for Windows on Arm (aarch64-w64-mingw32) out of Debian's clang, lld and
# LLVM tools and Debian's own sources: the MinGW-w64 headers, CRT and import libraries
# (source package mingw-w64), compiler-rt's builtins and a static libunwind, libc++abi and
# libc++ (source package llvm-toolchain-14, the one Debian's clang is built from).
#   bash scripts/arm64-toolchain.sh
# Everything goes to $BUILD_DIR/toolchain-arm64 (build/toolchain-arm64): the sources in
# src/, each stage's build in work/, the sysroot in aarch64-w64-mingw32/, clang's resource
# folder with the builtins in lib/clang/, and the commands aarch64-w64-mingw32-clang,
# -clang++, -windres, -dlltool, -ar and -ranlib in bin/. A stage that completed leaves a
# stamp in stamps/ and is not run again; a toolchain whose stages all completed is reused
# as it is (only its commands are written again). Removing the folder starts afresh. Each
# stage's time is printed, and the output of its commands kept in logs/.
# The source packages come through `apt-get source`, which needs a deb-src entry: where
# apt has none for the sources this machine's packages come from, one is written (as
# root) to /etc/apt/sources.list.d/orvane-deb-src.sources, from the same mirrors, suites
# and keys; deleting that file undoes it.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
source "$ROOT/scripts/apt-sources.sh"

TRIPLE=aarch64-w64-mingw32
TOP=$BUILD_DIR/toolchain-arm64
SRC=$TOP/src
WORK=$TOP/work
LOGS=$TOP/logs
STAMPS=$TOP/stamps
SYSROOT=$TOP/$TRIPLE
JOBS=$(($(nproc) < 2 ? $(nproc) : 2))
# Every build step runs at the lowest priority: the machine is shared.
NICE=(nice -n 19)

# The runtime is built from the sources of the very clang that will use it: its builtins
# go into a resource folder of that version, and libc++'s headers must match the compiler.
clang_version() { clang --version | sed -n 's/.*clang version \([0-9][0-9.]*\).*/\1/p' | head -n 1; }
CLANG_VERSION=$(clang_version)
CLANG_MAJOR=${CLANG_VERSION%%.*}
LLVM_BIN=/usr/lib/llvm-$CLANG_MAJOR/bin
RESOURCE=$TOP/lib/clang/$CLANG_VERSION

for tool in clang ld.lld x86_64-w64-mingw32-windres "$LLVM_BIN/llvm-ar" "$LLVM_BIN/llvm-ranlib" \
  "$LLVM_BIN/llvm-dlltool" "$LLVM_BIN/llvm-windres" cmake ninja make dpkg-source; do
  if ! command -v "$tool" >/dev/null; then
    echo "arm64-toolchain: $tool is missing; scripts/setup.sh arm64 (as root) installs it" >&2
    exit 1
  fi
done

# A toolchain made for another clang (Debian updated it since) has the builtins in the
# other version's resource folder and libc++'s headers of the other version: made again.
if [ -f "$TOP/complete" ] && ! grep -q "clang $CLANG_VERSION," "$TOP/complete"; then
  echo "arm64-toolchain: $TOP was made for another clang ($(cat "$TOP/complete")); making it again for clang $CLANG_VERSION"
  rm -rf "$TOP"
fi
mkdir -p "$SRC" "$WORK" "$LOGS" "$STAMPS"

# Runs stage NAME (a function of that name) unless its stamp is there; prints its time.
stage() {
  local name=$1 start
  if [ -f "$STAMPS/$name" ]; then
    echo "arm64-toolchain: $name: done before ($(cat "$STAMPS/$name"))"
    return
  fi
  start=$(date +%s)
  echo "arm64-toolchain: $name ..."
  : >"$LOGS/$name.log"
  "stage_$name"
  echo "$(($(date +%s) - start)) s" >"$STAMPS/$name"
  echo "arm64-toolchain: $name: $(cat "$STAMPS/$name")"
}

# Runs a command with its output kept in logs/NAME.log; when it fails, shows the end of
# that output and fails.
logged() {
  local log=$LOGS/$1.log
  shift
  if ! "$@" >>"$log" 2>&1 </dev/null; then
    echo "arm64-toolchain: failed: $* (the end of $log follows)" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

# --- the sources ---------------------------------------------------------------------

deb_src_file=/etc/apt/sources.list.d/orvane-deb-src.sources
# Whether apt knows where to get the source package NAME.
source_known() { [ -n "$(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Package: //p' | head -n 1)" ]; }
# A deb-src entry for each mirror and suite that apt takes this machine's packages from
# (main only: both source packages are in main).
write_deb_src() {
  local entries
  entries=$(apt_entries "$deb_src_file")
  if [ -z "$entries" ]; then
    echo "arm64-toolchain: apt has no deb entries to take a deb-src entry from" >&2
    return 1
  fi
  {
    echo "# Written by Orvane's scripts/arm64-toolchain.sh for 'apt-get source' of mingw-w64 and"
    echo "# llvm-toolchain-$CLANG_MAJOR, from the mirrors this machine takes its packages from. Delete to undo."
    local uri suite signed
    while IFS=$'\t' read -r uri suite signed; do
      echo
      echo "Types: deb-src"
      echo "URIs: $uri"
      echo "Suites: $suite"
      echo "Components: main"
      [ "$signed" = - ] || echo "Signed-By: $signed"
    done <<<"$entries"
  } >"$deb_src_file"
}
ensure_deb_src() {
  source_known mingw-w64 && source_known "llvm-toolchain-$CLANG_MAJOR" && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "arm64-toolchain: apt has no deb-src entry for mingw-w64; run this once as root to add one" \
      "($deb_src_file)" >&2
    return 1
  fi
  [ -f "$deb_src_file" ] || write_deb_src
  # A mirror caught mid-sync fails an index or two ("File has unexpected size"), often one
  # that does not matter here: what counts is that the two source packages are then known.
  apt-get update >>"$LOGS/sources.log" 2>&1 </dev/null ||
    echo "arm64-toolchain: apt-get update reported errors (see $LOGS/sources.log); going on with the indexes it has" >&2
  local name
  for name in mingw-w64 "llvm-toolchain-$CLANG_MAJOR"; do
    source_known "$name" || { echo "arm64-toolchain: apt finds no source package $name" >&2; return 1; }
  done
}

stage_sources() {
  ensure_deb_src
  local downloads=$SRC/downloads
  mkdir -p "$downloads"
  # apt-get source downloads as the _apt user where it can, which must be able to write here.
  # LLVM's sources of the very version the installed clang was built from.
  local llvm=llvm-toolchain-$CLANG_MAJOR version
  version=$(dpkg-query -W -f='${source:Version}' "clang-$CLANG_MAJOR" 2>/dev/null || true)
  # A mirror that drops a download now and then is asked again, twice.
  local attempt
  for attempt in 1 2 3; do
    (cd "$downloads" && logged sources apt-get source --download-only mingw-w64 "$llvm${version:+=$version}") && break
    [ "$attempt" -lt 3 ] || return 1
    echo "arm64-toolchain: the download failed; asking again in 10 s" >&2
    sleep 10
  done
  # mingw-w64 as Debian builds it, with Debian's patches.
  rm -rf "$SRC/mingw-w64"
  logged sources dpkg-source --no-check -x "$(ls "$downloads"/mingw-w64_*.dsc | head -n 1)" "$SRC/mingw-w64"
  # Of LLVM's tarball only the runtimes are unpacked (the whole is over a gigabyte). The
  # tarball is LLVM's own release; Debian's patches to it are for Linux and its ports.
  local tarball
  tarball=$(ls "$downloads"/llvm-toolchain-"$CLANG_MAJOR"_*.orig.tar.* | head -n 1)
  rm -rf "$SRC/llvm" "$SRC/llvm.tmp"
  mkdir -p "$SRC/llvm.tmp"
  logged sources tar -xf "$tarball" -C "$SRC/llvm.tmp" --strip-components=1 --wildcards \
    '*/cmake/*' '*/runtimes/*' '*/compiler-rt/*' '*/libunwind/*' '*/libcxxabi/*' '*/libcxx/*' \
    '*/llvm/utils/*' '*/llvm/include/llvm/Config/*'
  mv "$SRC/llvm.tmp" "$SRC/llvm"
}

# --- the commands --------------------------------------------------------------------

# Each command is a small script that finds the toolchain from its own place, so the
# folder can be moved. The compilers take Debian's clang to the sysroot and the resource
# folder here, with LLVM's runtime (compiler-rt, libunwind, libc++) and lld.
stage_commands() {
  local bin=$TOP/bin
  mkdir -p "$bin" "$RESOURCE/lib/windows"
  # The resource folder: clang's own headers (intrinsics and the like), and the builtins
  # built here for Windows in lib/windows.
  ln -sfn "$(clang -print-resource-dir)/include" "$RESOURCE/include"
  local head='#!/bin/sh
top=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)'
  local flags="--target=$TRIPLE --sysroot=\"\$top\" -resource-dir=\"\$top/lib/clang/$CLANG_VERSION\"\
 --start-no-unused-arguments -rtlib=compiler-rt -unwindlib=libunwind -fuse-ld=lld"
  printf '%s\nexec clang-%s %s --end-no-unused-arguments "$@"\n' "$head" "$CLANG_MAJOR" "$flags" \
    >"$bin/$TRIPLE-clang"
  printf '%s\nexec clang++-%s %s -stdlib=libc++ --end-no-unused-arguments "$@"\n' "$head" "$CLANG_MAJOR" \
    "$flags" >"$bin/$TRIPLE-clang++"
  # Resources: llvm-rc 14 stops at a dialog's MENU statement (which later versions read),
  # so GNU windres (binutils-mingw-w64, which the x64 build uses) compiles the script,
  # preprocessed by the C compiler here, into a .res file, which holds no machine code;
  # llvm-windres then makes of it the ARM64 object the linker takes. Called as CMake calls
  # windres: options, the script, the object (or -o OBJECT).
  cat >"$bin/$TRIPLE-windres" <<WINDRES
#!/usr/bin/env bash
set -euo pipefail
top=\$(cd "\$(dirname "\$0")/.." && pwd)
args=() out=
while [ \$# -gt 0 ]; do
  case \$1 in
    -o | --output) out=\${2:-} && shift ;;
    --output=*) out=\${1#--output=} ;;
    *) args+=("\$1") ;;
  esac
  shift
done
if [ -z "\$out" ] && [ \${#args[@]} -gt 1 ]; then
  out=\${args[\${#args[@]} - 1]}
  unset 'args[\${#args[@]} - 1]'
fi
[ -n "\$out" ] || { echo "$TRIPLE-windres: no output file named" >&2; exit 1; }
res=\$out.res
trap 'rm -f "\$res"' EXIT
x86_64-w64-mingw32-windres --preprocessor="\$top/bin/$TRIPLE-clang" --preprocessor-arg=-E \\
  --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED "\${args[@]}" -O res -o "\$res"
$LLVM_BIN/llvm-windres --target=$TRIPLE -J res -O coff "\$res" "\$out"
WINDRES
  printf '#!/bin/sh\nexec %s/llvm-dlltool -m arm64 "$@"\n' "$LLVM_BIN" >"$bin/$TRIPLE-dlltool"
  printf '#!/bin/sh\nexec %s/llvm-ar "$@"\n' "$LLVM_BIN" >"$bin/$TRIPLE-ar"
  printf '#!/bin/sh\nexec %s/llvm-ranlib "$@"\n' "$LLVM_BIN" >"$bin/$TRIPLE-ranlib"
  chmod +x "$bin"/*
}

# --- MinGW-w64: headers, CRT and import libraries ----------------------------------------

# The tools the builds below use: the commands above, the first on PATH.
export PATH=$TOP/bin:$PATH
cross_env=(CC="$TRIPLE-clang" CXX="$TRIPLE-clang++" AR="$TRIPLE-ar" RANLIB="$TRIPLE-ranlib"
  DLLTOOL="$TRIPLE-dlltool" RC="$TRIPLE-windres")

# The C runtime is msvcrt.dll, as for the x64 and x86 builds (Windows on Arm has its own).
stage_headers() {
  local dir=$WORK/headers
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && logged headers "${NICE[@]}" "$SRC/mingw-w64/mingw-w64-headers/configure" --host=$TRIPLE \
    --prefix="$SYSROOT" --enable-idl --with-default-msvcrt=msvcrt &&
    logged headers "${NICE[@]}" make install)
}

stage_crt() {
  local dir=$WORK/crt
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && logged crt "${NICE[@]}" env "${cross_env[@]}" "$SRC/mingw-w64/mingw-w64-crt/configure" \
    --host=$TRIPLE --prefix="$SYSROOT" --disable-lib32 --disable-lib64 --enable-libarm64 \
    --with-default-msvcrt=msvcrt &&
    logged crt "${NICE[@]}" make -j"$JOBS" &&
    logged crt "${NICE[@]}" make install)
}

# --- LLVM's runtime ---------------------------------------------------------------------

# What the CMake builds of LLVM's runtime share: the cross compilers, no test of them
# (nothing links before the builtins and libc++ are there) and the sysroot to look in.
cmake_cross=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows
  -DCMAKE_C_COMPILER="$TRIPLE-clang" -DCMAKE_CXX_COMPILER="$TRIPLE-clang++"
  -DCMAKE_C_COMPILER_TARGET=$TRIPLE -DCMAKE_CXX_COMPILER_TARGET=$TRIPLE
  -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_CXX_COMPILER_WORKS=ON
  -DCMAKE_AR="$LLVM_BIN/llvm-ar" -DCMAKE_RANLIB="$LLVM_BIN/llvm-ranlib"
  -DCMAKE_FIND_ROOT_PATH="$SYSROOT" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
  -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY
  -DLLVM_CONFIG_PATH=)

# compiler-rt's builtins go to the resource folder's lib/windows, where clang looks for
# libclang_rt.builtins-aarch64.a.
stage_builtins() {
  local dir=$WORK/builtins
  rm -rf "$dir" && mkdir -p "$dir"
  logged builtins "${NICE[@]}" cmake -S "$SRC/llvm/compiler-rt/lib/builtins" -B "$dir" "${cmake_cross[@]}" \
    -DCMAKE_INSTALL_PREFIX="$RESOURCE" -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON \
    -DCOMPILER_RT_OS_DIR=windows -DCOMPILER_RT_USE_BUILTINS_LIBRARY=ON
  logged builtins "${NICE[@]}" cmake --build "$dir" -j"$JOBS"
  logged builtins "${NICE[@]}" cmake --install "$dir"
  [ -f "$RESOURCE/lib/windows/libclang_rt.builtins-aarch64.a" ] || {
    echo "arm64-toolchain: the builtins were not installed as $RESOURCE/lib/windows/libclang_rt.builtins-aarch64.a" >&2
    return 1
  }
}

# libunwind, libc++abi and libc++, static only, with libc++abi folded into libc++.a: what
# -static links, so that the DLL and the programs import no C++ runtime DLL.
stage_libcxx() {
  local dir=$WORK/libcxx
  rm -rf "$dir" && mkdir -p "$dir"
  logged libcxx "${NICE[@]}" cmake -S "$SRC/llvm/runtimes" -B "$dir" "${cmake_cross[@]}" \
    -DCMAKE_INSTALL_PREFIX="$SYSROOT" -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" \
    -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF -DLIBUNWIND_ENABLE_STATIC=ON \
    -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON -DLIBCXXABI_ENABLE_SHARED=OFF \
    -DLIBCXXABI_LIBDIR_SUFFIX= -DLIBCXXABI_INCLUDE_TESTS=OFF \
    -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC=ON \
    -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON -DLIBCXX_CXX_ABI=libcxxabi -DLIBCXX_LIBDIR_SUFFIX= \
    -DLIBCXX_INCLUDE_TESTS=OFF -DLIBCXX_INCLUDE_BENCHMARKS=OFF -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF \
    -DLIBUNWIND_INCLUDE_TESTS=OFF -DLLVM_INCLUDE_TESTS=OFF
  logged libcxx "${NICE[@]}" cmake --build "$dir" -j"$JOBS"
  logged libcxx "${NICE[@]}" cmake --install "$dir"
}

# --- the proof -----------------------------------------------------------------------------

# A C++ program that throws and catches, and a DLL with an export, built and linked
# statically: both must be ARM64 PE files that import only Windows system DLLs.
stage_check() {
  local dir=$WORK/check
  rm -rf "$dir" && mkdir -p "$dir"
  cat >"$dir/throws.cpp" <<'CPP'
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>
int main() {
  std::vector<std::string> seen;
  try {
    throw std::runtime_error("thrown");
  } catch (const std::exception &e) {
    seen.emplace_back(e.what());
  }
  std::printf("%s\n", seen.at(0).c_str());
  return seen.size() == 1 ? 0 : 1;
}
CPP
  cat >"$dir/exports.c" <<'C'
#include <windows.h>
__declspec(dllexport) HRESULT WINAPI Probe(void) { return GetCurrentProcessId() ? S_OK : E_FAIL; }
C
  logged check "$TRIPLE-clang++" -O2 -static -o "$dir/throws.exe" "$dir/throws.cpp"
  logged check "$TRIPLE-clang" -O2 -shared -static -o "$dir/exports.dll" "$dir/exports.c"
  local file machine
  for file in "$dir/throws.exe" "$dir/exports.dll"; do
    machine=$("$LLVM_BIN/llvm-readobj" --file-headers "$file" | sed -n 's/^ *Machine: *//p')
    case $machine in
      *ARM64*) ;;
      *) echo "arm64-toolchain: $file is not an ARM64 file (machine: $machine)" >&2; return 1 ;;
    esac
    logged check bash "$ROOT/tests/check_imports.sh" "$file"
  done
}

stages=(sources commands headers crt builtins libcxx check)
if [ -f "$TOP/complete" ]; then
  # The commands take no time to write: written again, they follow this script.
  stage_commands
  echo "arm64-toolchain: $TOP is complete ($(cat "$TOP/complete")); remove it to build it again"
  exit 0
fi
total=$(date +%s)
for name in "${stages[@]}"; do
  stage "$name"
done
spent=0
for name in "${stages[@]}"; do
  spent=$((spent + $(cut -d' ' -f1 "$STAMPS/$name")))
done
echo "stages took $spent s in all, clang $CLANG_VERSION, $(date -u +%Y-%m-%d)" >"$TOP/complete"
echo "arm64-toolchain: ready in $TOP/bin ($(($(date +%s) - total)) s this run; $(cat "$TOP/complete"))"
