#!/usr/bin/env bash
# Times orvane-extract against the ffmpeg command on two 20-minute files (an MPEG
# program stream with MP2 sound and an MP4 with AAC sound), in alternating runs so
# that both see the same machine load. Prints the median ratio of wall times and
# the peak resident memory of both.
#
#   bench/run.sh [RUNS]          RUNS per program and file, default 5
#   ORVANE_BIN=path/to/orvane-extract bench/run.sh
#   BENCH_GENERATE_ONLY=1 bench/run.sh   only make the media
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}
BIN=${ORVANE_BIN:-build/bin/orvane-extract}
OUT=bench/out
SECONDS_LONG=${BENCH_SECONDS:-1200}
mkdir -p "$OUT"

make_media() {
    local file=$1
    shift
    if [ ! -s "$file" ]; then
        echo "making $file" >&2
        ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$file.part"
        mv "$file.part" "$file"
    fi
}

# Small video so that the sound track dominates neither side artificially; a
# moving test picture and a tone with a little noise so the encoders do real work.
make_media "$OUT/long.mpg" \
    -f lavfi -i "testsrc=size=320x240:rate=25:duration=$SECONDS_LONG" \
    -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t)+0.05*random(1):s=44100:d=$SECONDS_LONG" \
    -c:v mpeg1video -b:v 400k -c:a mp2 -b:a 192k -ar 44100 -ac 2 -f mpeg
make_media "$OUT/long.mp4" \
    -f lavfi -i "testsrc=size=320x240:rate=25:duration=$SECONDS_LONG" \
    -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t)+0.05*random(1):s=48000:d=$SECONDS_LONG" \
    -c:v mpeg4 -b:v 400k -c:a aac -b:a 160k -ar 48000 -ac 2 -f mp4

[ -n "${BENCH_GENERATE_ONLY:-}" ] && exit 0
if [ ! -x "$BIN" ]; then
    echo "no $BIN: build it first (cmake -S . -B build -DCMAKE_BUILD_TYPE=Release)" >&2
    exit 1
fi

# One timed run: prints "wall_seconds peak_rss_kib".
timed() {
    local log
    log=$(mktemp)
    /usr/bin/time -o "$log" -f "%e %M" "$@" >/dev/null
    cat "$log"
    rm -f "$log"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "orvane-extract: $BIN; ffmpeg: $(ffmpeg -version | head -1 | cut -d' ' -f3)"
status=0
for input in "$OUT/long.mpg" "$OUT/long.mp4"; do
    name=$(basename "$input")
    ours=$OUT/$name.orvane.wav
    theirs=$OUT/$name.ffmpeg.wav
    : >"$OUT/ratios"
    : >"$OUT/ours"
    : >"$OUT/theirs"
    # A warm-up run of each, so that the file is in the page cache for both.
    "$BIN" -q -y "$input" "$ours"
    ffmpeg -y -nostdin -loglevel error -i "$input" -vn -c:a pcm_s16le "$theirs"
    for ((i = 0; i < RUNS; i++)); do
        read -r ot om < <(timed "$BIN" -q -y "$input" "$ours")
        read -r ft fm < <(timed ffmpeg -y -nostdin -loglevel error -i "$input" -vn -c:a pcm_s16le "$theirs")
        echo "$ot $om" >>"$OUT/ours"
        echo "$ft $fm" >>"$OUT/theirs"
        awk -v o="$ot" -v f="$ft" 'BEGIN { printf "%.4f\n", (f > 0) ? o / f : 0 }' >>"$OUT/ratios"
    done
    ratio=$(median <"$OUT/ratios")
    o_time=$(cut -d' ' -f1 "$OUT/ours" | median)
    f_time=$(cut -d' ' -f1 "$OUT/theirs" | median)
    o_rss=$(cut -d' ' -f2 "$OUT/ours" | sort -g | tail -1)
    f_rss=$(cut -d' ' -f2 "$OUT/theirs" | sort -g | tail -1)
    # The sound itself must agree: same size of data (the headers differ in length).
    o_size=$(stat -c %s "$ours")
    f_size=$(stat -c %s "$theirs")
    printf '%s: median wall orvane-extract %ss, ffmpeg %ss, median ratio %s; peak RSS orvane-extract %s KiB, ffmpeg %s KiB; WAV sizes %s / %s bytes\n' \
        "$name" "$o_time" "$f_time" "$ratio" "$o_rss" "$f_rss" "$o_size" "$f_size"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 0.80) }' || [ "$o_rss" -ge "$f_rss" ]; then
        echo "$name: target missed (ratio at most 0.80 and less memory than ffmpeg)"
        status=1
    fi
done
exit $status
