#!/usr/bin/env bash
# Fresh Debian 12: installs what Orvane needs, builds it with the README's own commands
# (plain cmake, its default generator) and runs every test. The tests are switched on and
# warnings made errors on those commands' line; nothing else differs from a user's build.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
# Said outright, so that a build folder configured without tests cannot pass for a run.
cmake -S . -B "$BUILD_DIR" -DORVANE_BUILD_TESTS=ON -DORVANE_ENGINE_ONLY=OFF -DORVANE_WERROR=ON \
  >/dev/null
cmake --build "$BUILD_DIR" -j2
./scripts/check-suites.sh "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error -j2 "$@"
