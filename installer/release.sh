#!/usr/bin/env bash
# Builds a release into $BUILD_DIR/release/VERSION: for each architecture the MSI for all
# users and the one for one user, and the winget manifest of them all
# (winget_manifest.py), in the community repository's layout under winget/:
#   ORVANE_VERSION=1.2.0 ORVANE_RELEASE_URL=https://.../v1.2.0 bash installer/release.sh
# ORVANE_RELEASE_URL is the https folder where the maintainer publishes the release's MSIs
# (the manifest names each as URL/<file name>); there is no default. ORVANE_ARCHS
# (default "x64 x86 arm64") chooses the architectures; each is built first (scripts/common.sh;
# arm64 needs what "scripts/setup.sh arm64" installs).
# With ORVANE_SIGN_PFX and ORVANE_SIGN_PASSWORD everything is signed with that
# certificate (signing.sh). Beside each architecture's MSIs are its sparse package and,
# unsigned by a publisher, the throwaway certificate of the per-user MSI's package (the
# MSI for all users carries its own inside).
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
version=${ORVANE_VERSION:-1.0.0}
url=${ORVANE_RELEASE_URL:-}
if [ -z "$url" ]; then
  echo "release.sh: set ORVANE_RELEASE_URL to the https folder where the release's MSIs will be published" >&2
  exit 2
fi
out=$BUILD_DIR/release/$version
rm -rf "$out"
mkdir -p "$out"
msis=()
for arch in ${ORVANE_ARCHS:-x64 x86 arm64}; do
  build_arch "$arch" >/dev/null
  msis+=("$(ORVANE_VERSION=$version bash "$ROOT/installer/build.sh" "$arch" "$BUILD_DIR/$arch" "$out/Orvane-$arch.msi")")
  msis+=("$(ORVANE_VERSION=$version bash "$ROOT/installer/build.sh" --per-user "$arch" "$BUILD_DIR/$arch" \
    "$out/Orvane-$arch-user.msi")")
done
# The Python with python3-yaml (scripts/setup.sh installs it; the python3 on PATH may be another).
python=python3
python3 -c 'import yaml' 2>/dev/null || python=/usr/bin/python3
"$python" "$ROOT/installer/winget_manifest.py" --release-url "$url" --out "$out/winget" "${msis[@]}"
