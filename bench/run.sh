#!/usr/bin/env bash
# Times orvane-extract against the ffmpeg command on two 20-minute files (an MPEG
# program stream with MP2 sound and an MP4 with AAC sound), in alternating runs so
# that both see the same machine load. Prints the median ratio of wall times and
# the peak resident memory of both.
#
#   bench/run.sh [RUNS]          RUNS per program and file, default 5
#   ORVANE_BIN=path/to/orvane-extract bench/run.sh
#   BENCH_GENERATE_ONLY=1 bench/run.sh   only make the media
# Exits non-zero when a run fails, a target is missed, or the written data differs from
# ffmpeg's own decode. The published run's output is kept in bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}
BIN=${ORVANE_BIN:-build/bin/orvane-extract}
OUT=${BENCH_OUT:-bench/out}
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

# One timed run: prints "wall_seconds peak_rss_kib". A run that fails ends the benchmark:
# a failed run is not a fast one.
timed() {
    local log
    log=$(mktemp)
    if ! /usr/bin/time -o "$log" -f "%e %M" "$@" >/dev/null; then
        echo "FAILED: $* ($(head -c 300 "$log"))" >&2
        rm -f "$log"
        return 1
    fi
    cat "$log"
    rm -f "$log"
}

# Largest difference between two raw s16le files, in steps; they must be the same size.
max_step() {
    paste <(od -An -v -td2 -w2 "$1") <(od -An -v -td2 -w2 "$2") |
        awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > m) m = d } END { print m + 0 }'
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "orvane-extract: $BIN; ffmpeg: $(ffmpeg -version | head -1 | cut -d' ' -f3)"
status=0
# Each case: a name, the input, orvane-extract's options, ffmpeg's output options, and
# how the written data must agree with ffmpeg's own decode.
#   classic: the 44-byte header, then ffmpeg's s16 samples past SKIP bytes (a codec delay
#            that the engine takes off and ffmpeg does not; none for these files, whose
#            timestamps carry it), byte for byte (EXACT=1) or
#            within one step (EXACT=0, the engine decodes MP2 in floating point);
#   modern:  the whole file, header and samples, is ffmpeg's byte for byte.
cases=(
    "long.mpg|$OUT/long.mpg||-c:a pcm_s16le|classic|0|0"
    "long.mp4|$OUT/long.mp4||-c:a pcm_s16le|classic|0|1"
    "long.mp4 -f s24 -w modern|$OUT/long.mp4|-f s24 -w modern|-c:a pcm_s24le -rf64 auto -fflags +bitexact -map_metadata -1|modern|0|1"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r name input ours_opts ffmpeg_opts kind skip exact <<<"$entry"
    ours=$OUT/case.orvane.wav
    theirs=$OUT/case.ffmpeg.wav
    : >"$OUT/ratios"
    : >"$OUT/ours"
    : >"$OUT/theirs"
    : >"$OUT/onepass"
    : >"$OUT/bare"
    # shellcheck disable=SC2086 # the options are words
    run_ours() { timed "$BIN" -q -y $ours_opts "$input" "$ours"; }
    # shellcheck disable=SC2086
    run_theirs() { timed ffmpeg -y -nostdin -loglevel error -i "$input" -vn $ffmpeg_opts "$theirs"; }
    # The same conversion in one pass, and the bare decode with the engine's decoders
    # (MPEG audio in floating point) and nothing written.
    # shellcheck disable=SC2086
    run_onepass() { timed "$BIN" -q -y --threads 1 $ours_opts "$input" "$ours"; }
    decoder=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 "$input")
    case $decoder in mp1 | mp2 | mp3) decoder=${decoder}float ;; esac
    run_bare() { timed ffmpeg -nostdin -loglevel error -c:a "$decoder" -i "$input" -map 0:a:0 -f null -; }
    # A warm-up run of each, so that the file is in the page cache for both.
    run_ours >/dev/null
    run_theirs >/dev/null
    for ((i = 0; i < RUNS; i++)); do
        run=$(run_ours)
        read -r ot om <<<"$run"
        run=$(run_theirs)
        read -r ft fm <<<"$run"
        echo "$ot $om" >>"$OUT/ours"
        echo "$ft $fm" >>"$OUT/theirs"
        run=$(run_onepass)
        echo "${run%% *}" >>"$OUT/onepass"
        run=$(run_bare)
        echo "${run%% *}" >>"$OUT/bare"
        awk -v o="$ot" -v f="$ft" 'BEGIN { printf "%.4f\n", (f > 0) ? o / f : 0 }' >>"$OUT/ratios"
    done
    ratio=$(median <"$OUT/ratios")
    o_time=$(cut -d' ' -f1 "$OUT/ours" | median)
    f_time=$(cut -d' ' -f1 "$OUT/theirs" | median)
    o_rss=$(cut -d' ' -f2 "$OUT/ours" | sort -g | tail -1)
    f_rss=$(cut -d' ' -f2 "$OUT/theirs" | sort -g | tail -1)
    printf '%s: median wall orvane-extract %ss, ffmpeg %ss, median ratio %s; peak RSS orvane-extract %s KiB, ffmpeg %s KiB\n' \
        "$name" "$o_time" "$f_time" "$ratio" "$o_rss" "$f_rss"
    p_time=$(median <"$OUT/onepass")
    b_time=$(median <"$OUT/bare")
    awk -v n="$name" -v c="$(nproc)" -v o="$o_time" -v p="$p_time" -v b="$b_time" -v f="$f_time" 'BEGIN {
        printf "%s: %d cores: one pass (--threads 1) %ss, %.2f of ffmpeg; bare decode (ffmpeg -f null) %ss; orvane-extract %.2f of the bare decode, one pass %.2f\n",
            n, c, p, p / f, b, o / b, p / b }'
    if [ "$kind" = classic ]; then
        if awk -v r="$ratio" 'BEGIN { exit !(r > 0.75) }' || [ "$o_rss" -ge "$f_rss" ]; then
            echo "$name: target missed (ratio at most 0.75 and less memory than ffmpeg)"
            status=1
        fi
        tail -c +45 "$ours" >"$OUT/ours.raw"
        ffmpeg -y -nostdin -loglevel error -i "$input" -vn -f s16le -c:a pcm_s16le - |
            tail -c +$((skip + 1)) >"$OUT/theirs.raw"
    else
        cp "$ours" "$OUT/ours.raw"
        cp "$theirs" "$OUT/theirs.raw"
    fi
    o_size=$(stat -c %s "$OUT/ours.raw")
    f_size=$(stat -c %s "$OUT/theirs.raw")
    if [ "$o_size" -ne "$f_size" ]; then
        echo "$name: FAILED: data sizes differ: orvane-extract $o_size, ffmpeg $f_size bytes"
        status=1
    elif cmp -s "$OUT/ours.raw" "$OUT/theirs.raw"; then
        echo "$name: the same as ffmpeg's, byte for byte ($o_size bytes)"
    else
        step=$(max_step "$OUT/ours.raw" "$OUT/theirs.raw")
        echo "$name: the same size as ffmpeg's ($o_size bytes), samples differ by at most $step step(s)"
        if [ "$step" -gt 1 ] || [ "$exact" = 1 ]; then
            echo "$name: FAILED: the data must be ffmpeg's byte for byte or within one step"
            status=1
        fi
    fi
    rm -f "$OUT/ours.raw" "$OUT/theirs.raw" "$ours" "$theirs"
done
exit $status
