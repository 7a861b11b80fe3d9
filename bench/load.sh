#!/usr/bin/env bash
# Runs the two load tests (200 conversions started and stopped through the dialog, 200
# real previews opened and closed) RUNS times and prints what each run measured and the
# spread: resident memory and heap in use after 100 and after 200 cycles.
#   bench/load.sh [RUNS]        default 10; needs a build in build/ (or BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-10}
BIN=${BUILD_DIR:-build}/bin/e2e_tests
[ -x "$BIN" ] || { echo "no $BIN: build first (scripts/build.sh)" >&2; exit 1; }
echo "machine: $(nproc) cores; $(date -u '+%Y-%m-%d %H:%M UTC'); $BIN"
lines=$(mktemp)
for ((i = 1; i <= RUNS; i++)); do
    out=$(QT_QPA_PLATFORM=offscreen "$BIN" --gtest_filter='Load.TwoHundred*' 2>&1) || {
        echo "$out" | tail -n 30
        echo "run $i failed" >&2
        exit 1
    }
    grep '^\[ memory \]' <<<"$out" | tee -a "$lines"
done
# The spread of the growth over the last 100 cycles, per test and measure.
for what in "200 conversions" "200 previews"; do
    grep "$what" "$lines" | sed -E 's/.*RSS [^(]*\(([-+0-9]+) in the last 100\); heap in use [^(]*\(([-+0-9]+) in the last 100\)/\1 \2/' |
        awk -v w="$what" 'NR == 1 { rmin = rmax = $1; hmin = hmax = $2 }
            { if ($1 < rmin) rmin = $1; if ($1 > rmax) rmax = $1; if ($2 < hmin) hmin = $2; if ($2 > hmax) hmax = $2 }
            END { printf "%s, %d runs: growth in the last 100 cycles: RSS %+d to %+d KiB, heap in use %+d to %+d KiB\n", w, NR, rmin, rmax, hmin, hmax }'
done
rm -f "$lines"
