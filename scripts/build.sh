#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given in BUILD_DIR), warnings as errors;
# only the targets in BUILD_TARGETS when it is set.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DORVANE_WERROR=ON "$@" >/dev/null
cmake --build "$BUILD_DIR" -j2 ${BUILD_TARGETS:+--target $BUILD_TARGETS}
