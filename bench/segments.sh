#!/usr/bin/env bash
# Times an export of segments against a whole conversion of the same file, and against
# the ffmpeg command's whole decode, on 60-minute files made as bench/run.sh makes its
# 20-minute ones (in bench/out60), in alternating runs so that all see the same load:
#   cover   20 segments that together cover the whole file, into 20 files
#   spread  20 one-second segments spread over the file
# Prints the median of each ratio; exits non-zero when a run fails or a target is missed
# (cover at most 1.1 times the whole conversion, spread at most 0.05 times).
#
#   bench/segments.sh [RUNS]     RUNS of each, default 3
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
BIN=${ORVANE_BIN:-build/bin/orvane-extract}
OUT=${BENCH_OUT:-bench/out60}
BENCH_OUT=$OUT BENCH_SECONDS=${BENCH_SECONDS:-3600} BENCH_GENERATE_ONLY=1 bench/run.sh >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { /usr/bin/time -f "%e" -o "$work/t" "$@" >/dev/null 2>&1 && cat "$work/t"; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

status=0
for file in "$OUT/long.mpg" "$OUT/long.mp4"; do
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
    awk -v d="$duration" 'BEGIN {print "start,end,name"; for (i = 0; i < 20; i++)
        printf "%.3f,%.3f,part %d\n", d * i / 20, (i == 19 ? d - 0.5 : d * (i + 1) / 20), i + 1}' \
        >"$work/cover.csv"
    awk -v d="$duration" 'BEGIN {print "start,end,name"; for (i = 0; i < 20; i++)
        printf "%.3f,%.3f,second %d\n", d * (i + 0.5) / 20, d * (i + 0.5) / 20 + 1, i + 1}' \
        >"$work/spread.csv"
    : >"$work/cover.r"
    : >"$work/spread.r"
    : >"$work/ffmpeg.r"
    : >"$work/spreadff.r"
    for _ in $(seq "$RUNS"); do
        whole=$(seconds "$BIN" -y -q "$file" "$work/whole.wav")
        ffmpeg=$(seconds ffmpeg -nostdin -v error -y -i "$file" -vn -c:a pcm_s16le "$work/ff.wav")
        rm -rf "$work/c" "$work/s" && mkdir "$work/c" "$work/s"
        cover=$(seconds "$BIN" -y -q --segments "$work/cover.csv" -d "$work/c" "$file")
        spread=$(seconds "$BIN" -y -q --segments "$work/spread.csv" -d "$work/s" "$file")
        echo "$cover $whole" | awk '{print $1 / $2}' >>"$work/cover.r"
        echo "$spread $whole" | awk '{print $1 / $2}' >>"$work/spread.r"
        echo "$whole $ffmpeg" | awk '{print $1 / $2}' >>"$work/ffmpeg.r"
        echo "$spread $ffmpeg" | awk '{print $1 / $2}' >>"$work/spreadff.r"
    done
    c=$(median <"$work/cover.r")
    s=$(median <"$work/spread.r")
    f=$(median <"$work/ffmpeg.r")
    sf=$(median <"$work/spreadff.r")
    echo "$(basename "$file"): whole conversion / ffmpeg $f; 20 covering segments / whole $c; 20 one-second segments / whole $s, / ffmpeg $sf"
    awk -v c="$c" -v s="$s" 'BEGIN {exit !(c <= 1.1 && s <= 0.05)}' || {
        echo "  target missed (cover <= 1.1, spread <= 0.05)" >&2
        status=1
    }
done
exit $status
