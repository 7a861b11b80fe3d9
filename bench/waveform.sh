#!/usr/bin/env bash
# How fast the panel's waveform is on a 60-minute MPEG program stream (DVD-like: MPEG-2
# video at 15 Mbit/s, MP2 sound), against a conversion of the same file by orvane-extract
# and by the ffmpeg command, in alternating runs so that all see the same machine load.
# Targets: the first columns within 300 ms of opening (the panel then draws them at its
# next refresh, at most 100 ms later, so the decoded figure must be at most 200 ms), and
# the whole waveform, decoded in sections on every core, in at most 0.6 times a one-pass
# conversion (orvane-extract --threads 1).
#
#   bench/waveform.sh [RUNS]     RUNS of each, default 3; the output is kept in bench/results/
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
OUT=bench/out
BIN=${BENCH_BIN:-build/bin}
mkdir -p "$OUT" bench/results
for tool in waveform_bench orvane-extract; do
    [ -x "$BIN/$tool" ] || { echo "no $BIN/$tool: build it first (Release)" >&2; exit 1; }
done
# One continuous hour: the loop played 180 times.
. bench/looped-mpeg.sh
looped_mpeg "$OUT" 179 "$OUT/hour-even.mpg"
file=$OUT/hour-even.mpg
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
wall() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }

log=bench/results/waveform-$(date -u +%Y-%m-%d).txt
{
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cores used: $(nproc); commit $(git rev-parse --short HEAD 2>/dev/null)$(git diff --quiet HEAD 2>/dev/null || echo " with changes")"
    echo "file: $file ($(stat -c %s "$file") bytes, $("$BIN/orvane-extract" --probe "$file" | grep -m1 Duration))"
    echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
    # A warm-up of each, so that the file is in the page cache for all.
    "$BIN/waveform_bench" "$file" >/dev/null
    : >"$OUT/wf.first"; : >"$OUT/wf.whole"; : >"$OUT/wf.ours"; : >"$OUT/wf.ffmpeg"; : >"$OUT/wf.onepass"; : >"$OUT/wf.bare"
    for ((i = 0; i < RUNS; i++)); do
        read -r first whole < <("$BIN/waveform_bench" "$file")
        echo "$first" >>"$OUT/wf.first"
        echo "$whole" >>"$OUT/wf.whole"
        wall "$BIN/orvane-extract" -q -y "$file" "$OUT/wf.wav" >>"$OUT/wf.ours"
        wall "$BIN/orvane-extract" -q -y --threads 1 "$file" "$OUT/wf.wav" >>"$OUT/wf.onepass"
        wall ffmpeg -nostdin -loglevel error -y -i "$file" -vn "$OUT/wf.wav" >>"$OUT/wf.ffmpeg"
        # The bare decode with the engine's decoder, nothing written.
        wall ffmpeg -nostdin -loglevel error -c:a mp2float -i "$file" -map 0:a:0 -f null - >>"$OUT/wf.bare"
        echo "run $((i + 1)): first columns ${first} ms, whole waveform ${whole} s, orvane-extract $(tail -1 "$OUT/wf.ours") s, one pass $(tail -1 "$OUT/wf.onepass") s, ffmpeg $(tail -1 "$OUT/wf.ffmpeg") s, bare decode $(tail -1 "$OUT/wf.bare") s"
    done
} | tee "$log"
rm -f "$OUT/wf.wav"
first=$(median <"$OUT/wf.first")
whole=$(median <"$OUT/wf.whole")
ours=$(median <"$OUT/wf.ours")
onepass=$(median <"$OUT/wf.onepass")
theirs=$(median <"$OUT/wf.ffmpeg")
bare=$(median <"$OUT/wf.bare")
{
    echo "median on $(nproc) cores: first columns $first ms; whole waveform $whole s = $(awk -v w="$whole" -v o="$onepass" 'BEGIN { printf "%.2f", w / o }') x a one-pass conversion ($onepass s), $(awk -v w="$whole" -v o="$ours" 'BEGIN { printf "%.2f", w / o }') x orvane-extract's sectioned conversion ($ours s), $(awk -v w="$whole" -v f="$theirs" 'BEGIN { printf "%.2f", w / f }') x the ffmpeg command's ($theirs s), $(awk -v w="$whole" -v b="$bare" 'BEGIN { printf "%.2f", w / b }') x the bare decode ($bare s)"
    echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee -a "$log"
status=0
awk -v f="$first" 'BEGIN { exit !(f <= 200) }' || { echo "target missed: first columns over 200 ms" | tee -a "$log"; status=1; }
awk -v w="$whole" -v o="$onepass" 'BEGIN { exit !(w <= 0.6 * o) }' || { echo "target missed: whole waveform over 0.6 x a one-pass conversion" | tee -a "$log"; status=1; }
exit $status
