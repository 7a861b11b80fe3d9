#!/usr/bin/env bash
# Fresh Debian 12: installs what Orvane needs, builds it and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
ctest --test-dir build --output-on-failure -j2 "$@"
