#!/usr/bin/env bash
# The long random-action soak: the real converter (dialog, libmpv without picture or sound,
# the FFmpeg engine, settings in a scratch home) driven through seeded random steps, checked
# against its model after each. Seeds run one after another; a failing seed prints the steps
# that replay it and the run goes on with the next. The summary is kept in bench/results/.
#
#   bench/soak.sh [seeds] [steps per seed]     (default 10 seeds of 2000 steps)
#   SOAK_BIN=build-asan/bin/soak_tests bench/soak.sh 2 500
set -euo pipefail
cd "$(dirname "$0")/.."
SEEDS=${1:-10}
STEPS=${2:-2000}
BIN=${SOAK_BIN:-build/bin/soak_tests}
[ -x "$BIN" ] || { echo "soak: $BIN is missing; build with -DORVANE_BUILD_TESTS=ON" >&2; exit 2; }
mkdir -p bench/results
log=bench/results/soak-$(date -u +%Y-%m-%d).txt
# A log already there is added to: the totals count this run's lines only.
first=$(($( [ -f "$log" ] && wc -l <"$log" || echo 0) + 1))
failed=0
states=$(mktemp)
trap 'rm -f "$states"' EXIT
{
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "binary: $BIN (commit $(git rev-parse --short HEAD 2>/dev/null)); $SEEDS seeds of $STEPS steps"
} | tee -a "$log"
for ((seed = 1; seed <= SEEDS; seed++)); do
    start=$(date +%s)
    out=$(ORVANE_SOAK_STATES=1 ORVANE_SOAK_SEED=$seed ORVANE_SOAK_STEPS=$STEPS QT_QPA_PLATFORM=offscreen \
        "$BIN" --gtest_filter='Seeds/SoakRun.*/0' 2>&1) && status=0 || status=$?
    {
        # A failure brings the steps up to it, to be replayed as they are.
        grep -E '^\[ soak \]|after step|^replay with|died during' <<<"$out" | grep -v '^\[ soak \] state ' || true
        [ "$status" -eq 0 ] || echo "replay: ORVANE_SOAK_SEED=$seed ORVANE_SOAK_STEPS=$STEPS $BIN"
        echo "seed $seed: exit status $status, $(($(date +%s) - start)) s"
    } | tee -a "$log"
    grep '^\[ soak \] state ' <<<"$out" >>"$states" || true
    [ "$status" -eq 0 ] || failed=$((failed + 1))
done
# Totals over the seeds, from the lines each run printed.
awk '/^\[ soak \] seed/ {
    match($0, /: [0-9]+ steps/); steps += substr($0, RSTART + 2, RLENGTH - 8)
    match($0, /[0-9]+ conversions/); conv += substr($0, RSTART, RLENGTH - 12)
} END { printf "total: %d steps, %d conversions\n", steps, conv }' <(tail -n +"$first" "$log") | tee -a "$log"
echo "distinct states over all seeds: $(sort -u "$states" | wc -l); seeds failed: $failed" | tee -a "$log"
[ "$failed" -eq 0 ]
