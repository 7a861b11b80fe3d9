#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given in BUILD_DIR), warnings as errors;
# only the targets in BUILD_TARGETS when it is set.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
# Line tables only (-g1): a report needs files and lines, not variables, and the full
# debug information of the Qt and test headers costs a quarter of the compile time.
cmake -S . -B "$BUILD_DIR" -G Ninja -DORVANE_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_DEBUG="-g1" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j2 ${BUILD_TARGETS:+--target $BUILD_TARGETS}
