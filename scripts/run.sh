#!/usr/bin/env bash
# Fresh Debian 12: installs what Orvane needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
if [ -x build/bin/orvane ]; then
  exec build/bin/orvane "$@"
fi
exec build/bin/orvane-extract --help
