#!/usr/bin/env bash
# What finding a file's timestamp restarts costs. A 60 s DVD-like clip (MPEG-2 video
# 720x576 at 6 Mbit/s, MP2 sound) is joined 22 times end to end into a 1 GB MPEG program
# stream and a 1 GB transport stream (21 restarts each). Times `orvane-extract --probe`
# on them, which opens the file, scans it and prints its timeline, against the ffmpeg
# command's own pass over the sound's packets (`ffmpeg -i IN -map 0:a:0 -c copy -f null -`),
# in alternating runs, after one warm-up run of each (the files are read from the page
# cache). Prints the medians of wall and CPU time and the median ratio of wall times.
#
#   bench/timeline.sh [RUNS]          RUNS per program and file, default 7
#   ORVANE_BIN=path/to/orvane-extract bench/timeline.sh
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-7}
BIN=${ORVANE_BIN:-build/bin/orvane-extract}
OUT=bench/out
PARTS=22
mkdir -p "$OUT"

clip=$OUT/dvd60.mpg
if [ ! -s "$clip" ]; then
    echo "making $clip" >&2
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=720x576:rate=25:duration=60" \
        -f lavfi -i "sine=f=440:r=48000:d=60" \
        -c:v mpeg2video -b:v 6M -minrate 6M -maxrate 6M -bufsize 1835k \
        -c:a mp2 -b:a 192k -f vob "$clip.part"
    mv "$clip.part" "$clip"
fi
if [ ! -s "$OUT/dvd60.ts" ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y -i "$clip" -c copy -f mpegts "$OUT/dvd60.ts"
fi
for ext in mpg ts; do
    joined=$OUT/joined-1g.$ext
    if [ ! -s "$joined" ]; then
        for ((i = 0; i < PARTS; i++)); do cat "$OUT/dvd60.$ext"; done >"$joined.part"
        mv "$joined.part" "$joined"
    fi
done

if [ ! -x "$BIN" ]; then
    echo "no $BIN: build it first" >&2
    exit 1
fi

# One timed run: prints "wall_seconds cpu_seconds".
timed() {
    local log
    log=$(mktemp)
    /usr/bin/time -o "$log" -f "%e %U %S" "$@" >/dev/null
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$log"
    rm -f "$log"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "orvane-extract: $BIN; ffmpeg: $(ffmpeg -version | head -1 | cut -d' ' -f3); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for input in "$OUT/joined-1g.mpg" "$OUT/joined-1g.ts" "$clip"; do
    name=$(basename "$input")
    size=$(stat -c %s "$input")
    # The warm-up run of each also checks what the probe found.
    timeline=$("$BIN" --probe "$input" | grep '^Timeline' | sed 's/ (.*//' || true)
    ffmpeg -nostdin -loglevel error -i "$input" -map 0:a:0 -c copy -f null -
    : >"$OUT/ratios"
    : >"$OUT/ours"
    : >"$OUT/theirs"
    for ((i = 0; i < RUNS; i++)); do
        read -r ow oc < <(timed "$BIN" --probe "$input")
        read -r fw fc < <(timed ffmpeg -nostdin -loglevel error -i "$input" -map 0:a:0 -c copy -f null -)
        echo "$ow $oc" >>"$OUT/ours"
        echo "$fw $fc" >>"$OUT/theirs"
        awk -v o="$ow" -v f="$fw" 'BEGIN { printf "%.4f\n", (f > 0) ? o / f : 0 }' >>"$OUT/ratios"
    done
    printf '%s (%s bytes; %s): --probe median wall %ss, CPU %ss; ffmpeg packet pass median wall %ss, CPU %ss; median ratio %s\n' \
        "$name" "$size" "${timeline:-no restarts}" \
        "$(cut -d' ' -f1 "$OUT/ours" | median)" "$(cut -d' ' -f2 "$OUT/ours" | median)" \
        "$(cut -d' ' -f1 "$OUT/theirs" | median)" "$(cut -d' ' -f2 "$OUT/theirs" | median)" \
        "$(median <"$OUT/ratios")"
    if [ "$name" != "$(basename "$clip")" ] && [ "$timeline" != "Timeline: $PARTS segments" ]; then
        echo "$name: expected $PARTS segments, the probe said: ${timeline:-none}"
        status=1
    fi
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
