#!/usr/bin/env bash
# Fresh Debian 12: installs what Orvane needs, builds it and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
# Said outright, so that a build folder configured without tests cannot pass for a run.
./scripts/build.sh -DORVANE_BUILD_TESTS=ON -DORVANE_ENGINE_ONLY=OFF
./scripts/check-suites.sh build
ctest --test-dir build --output-on-failure --no-tests=error -j2 "$@"
