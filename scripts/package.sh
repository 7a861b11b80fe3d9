#!/usr/bin/env bash
# Builds the Debian package in Release: build-package/orvane_<version>_amd64.deb.
# Debian's own build flags (hardening, fortified functions, relro) come from
# dpkg-buildflags (all hardening); warnings do not stop a package build (no -Werror).
# Set ORVANE_SKIP_DEPS=1 when scripts/install-deps.sh has already run.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${ORVANE_SKIP_DEPS:-0}" != 1 ]; then
  ./scripts/install-deps.sh
fi
BUILD_DIR=${BUILD_DIR:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_WERROR=OFF \
  -DORVANE_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$BUILD_DIR" -j2
rm -f "$BUILD_DIR"/orvane_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
ls "$BUILD_DIR"/orvane_*.deb
