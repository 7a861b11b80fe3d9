#!/usr/bin/env bash
# Two builds of orvane-extract and the ffmpeg command on the same file, in alternating runs:
# whether a change made a conversion faster or slower, measured in one run on one machine
# state. Prints each program's times, the medians and their ratios to the ffmpeg command,
# and checks that both builds wrote the same file.
#
#   bench/builds.sh OTHER_BIN [RUNS] [FILE]   RUNS default 9, FILE default bench/out/long.mp4
#   (build the other commit's engine alone: cmake -DORVANE_ENGINE_ONLY=ON -DORVANE_BUILD_TESTS=OFF)
set -euo pipefail
cd "$(dirname "$0")/.."
other=$1
runs=${2:-9}
file=${3:-bench/out/long.mp4}
this=${ORVANE_BIN:-build/bin/orvane-extract}
[ -s "$file" ] || BENCH_GENERATE_ONLY=1 bench/run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for _ in $(seq "$runs"); do
    /usr/bin/time -a -o "$work/times" -f "other %e" "$other" -q -y "$file" "$work/other.wav" >/dev/null
    /usr/bin/time -a -o "$work/times" -f "this %e" "$this" -q -y "$file" "$work/this.wav" >/dev/null
    /usr/bin/time -a -o "$work/times" -f "ffmpeg %e" ffmpeg -nostdin -loglevel error -y -i "$file" \
        -vn -c:a pcm_s16le "$work/ffmpeg.wav" >/dev/null
done
median() { grep "^$1 " "$work/times" | awk '{ print $2 }' | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "file: $file; other: $other; this: $this ($(git rev-parse --short HEAD 2>/dev/null))"
for k in other this ffmpeg; do
    echo "$k: $(grep "^$k " "$work/times" | awk '{ print $2 }' | sort -g | tr '\n' ' ')"
done
o=$(median other)
t=$(median this)
f=$(median ffmpeg)
awk -v o="$o" -v t="$t" -v f="$f" 'BEGIN { printf "medians: other %ss, this %ss, ffmpeg %ss; to ffmpeg: other %.3f, this %.3f; this / other %.3f\n", o, t, f, o / f, t / f, t / o }'
if cmp -s "$work/other.wav" "$work/this.wav"; then
    echo "both builds wrote the same file, byte for byte"
else
    echo "the builds wrote different files" >&2
    exit 1
fi
