#!/usr/bin/env bash
# Fuzzes the engine's open, probe, seek and fill, and orvane-extract's command line, with
# libFuzzer. Each run starts from the corpus kept in tests/fuzz/corpus/ (plus, for the
# engine, small generated files of every container and codec the engine reads, a few of
# them made by other encoders and muxers when those are installed); what it finds goes to
# build-fuzz/work/, and --merge folds that back into the kept corpus, minimised.
#
#   bench/fuzz.sh [--target engine|arguments|all] RUNS     a fixed number of executions
#   bench/fuzz.sh [--target ...] --seconds N               a run of N seconds per target
#   bench/fuzz.sh --merge                                  minimise work + kept corpus into the kept one
#   FUZZ_LOG=bench/results/fuzz-log.txt bench/fuzz.sh ...  appends each run's totals to the log
#
# Limits: a run that takes more than 1024 MB of memory, makes a single allocation over
# 256 MB (the cap FFmpeg itself runs under) or spends more than 5 s on one input is a
# finding, as is any crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
targets="engine arguments"
limit="-runs=100000"
merge=
while [ $# -gt 0 ]; do
    case "$1" in
        --target) targets=${2/all/engine arguments}; shift 2 ;;
        --seconds) limit="-max_total_time=$2"; shift 2 ;;
        --merge) merge=1; shift ;;
        *) limit="-runs=$1"; shift ;;
    esac
done
BUILD_DIR=build-fuzz
CC=clang CXX=clang++ cmake -S . -B $BUILD_DIR -G Ninja -DORVANE_FUZZ=ON -DORVANE_ENGINE_ONLY=ON -DORVANE_WERROR=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_SANITIZE=fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build $BUILD_DIR -j2 --target audio_source_fuzzer arguments_fuzzer

maxlen() { [ "$1" = engine ] && echo 65536 || echo 512; }

mkdir -p "$BUILD_DIR/findings"
seeds=$BUILD_DIR/seeds
# The seeds are remade when the list below changes (bump the number) or when one of the
# other encoders is installed or removed. The stamp lives beside the folder, not in it,
# so libFuzzer does not read it as an input.
made=$BUILD_DIR/seeds.made
tools="twolame lame oggenc opusenc mkvmerge"
stamp="seeds 2:"
for t in $tools; do
  if command -v "$t" >/dev/null; then stamp="$stamp $t"; fi
done
if [ ! -d "$seeds" ] || [ "$(cat "$made" 2>/dev/null)" != "$stamp" ]; then
  # Gone first, so a set that fails half-made is made again on the next run.
  rm -rf "$made" "$seeds"
  mkdir -p "$seeds"
  tone="-f lavfi -i sine=f=440:r=44100:d=0.3"
  tone48="-f lavfi -i sine=f=440:r=48000:d=0.3"
  picture="-f lavfi -i testsrc=d=0.3:s=64x48:r=25"
  ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
  # A file made by an encoder other than FFmpeg's own, when it is installed.
  other() {
    if command -v "$1" >/dev/null; then "$@"; else echo "fuzz.sh: $1 is not installed, skipping its seed" >&2; fi
  }
  ff $tone -c:a pcm_s16le "$seeds/s16.wav"
  ff $tone -c:a pcm_u8 -ac 1 "$seeds/u8.wav"
  ff $tone -c:a pcm_s24le "$seeds/s24.wav"
  ff $tone -c:a pcm_s16be "$seeds/a.aiff"
  ff $tone -c:a flac "$seeds/a.flac"
  # 24-bit stereo takes the engine's own 24-bit path, not the resampler.
  ff $tone -ac 2 -sample_fmt s32 -c:a flac "$seeds/s24.flac"
  ff $tone -c:a mp2 "$seeds/a.mp2"
  ff $tone -c:a libmp3lame "$seeds/a.mp3"
  ff $tone48 -c:a ac3 "$seeds/a.ac3"
  # Six channels: a layout that is neither mono nor stereo.
  ff $tone48 -ac 6 -c:a eac3 -b:a 192k "$seeds/51.eac3"
  ff $tone48 -c:a aac "$seeds/a.m4a"
  ff $tone48 -c:a aac -b:a 64k -f adts "$seeds/a.aac"
  ff $tone48 -c:a libvorbis "$seeds/a.ogg"
  ff $tone48 -c:a libopus -b:a 32k "$seeds/a.opus"
  ff $tone -c:a flac -f ogg "$seeds/flac.oga"
  ff $tone -c:a wmav2 -b:a 64k "$seeds/a.wma"
  ff $picture $tone -c:v mpeg1video -c:a mp2 "$seeds/ps.mpg"
  ff $picture $tone -c:v mpeg2video -c:a mp2 -f mpegts "$seeds/ts.ts"
  ff $picture $tone48 -c:v mpeg2video -c:a ac3 -b:a 96k -f vob "$seeds/ac3.vob"
  ff $picture $tone48 -c:v mpeg2video -c:a pcm_dvd -f vob "$seeds/lpcm.vob"
  # Timestamps that restart: joined files (parts long enough for the jump back to count),
  # and a clock about to wrap.
  ff -f lavfi -i sine=f=440:r=44100:d=0.8 -c:a mp2 -b:a 64k -f mpeg "$seeds/part.mpg"
  ff -f lavfi -i sine=f=440:r=44100:d=0.8 -c:a mp2 -b:a 64k -f mpegts "$seeds/part.ts"
  cat "$seeds/part.mpg" "$seeds/part.mpg" >"$seeds/joined.mpg"
  cat "$seeds/part.ts" "$seeds/part.ts" >"$seeds/joined.ts"
  rm "$seeds/part.mpg" "$seeds/part.ts"
  ff $tone -c:a mp2 -output_ts_offset 95443.5 -f mpegts "$seeds/wrap.ts"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 -f lavfi -i sine=r=48000:d=0.3 -c:v mpeg4 -c:a aac "$seeds/v.mp4"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 -f lavfi -i sine=r=48000:d=0.3 -c:v mpeg4 -c:a ac3 "$seeds/v.mkv"
  ff $picture $tone48 -c:v mpeg4 -c:a pcm_s16be -f mov "$seeds/v.mov"
  ff $picture $tone48 -c:v libvpx -b:v 50k -c:a libopus -b:a 32k "$seeds/v.webm"
  ff $picture $tone -c:v wmv2 -c:a wmav1 -b:a 64k "$seeds/v.wmv"
  # Their input is a bare WAV, without the tag chunk the other encoders warn about.
  plain=$BUILD_DIR/plain.wav
  ff $tone -c:a pcm_s16le -fflags +bitexact -flags:a +bitexact "$plain"
  other twolame --quiet -b 64 "$plain" "$seeds/twolame.mp2"
  other lame --quiet -b 64 "$plain" "$seeds/lame.mp3"
  other oggenc -Q -q 0 -o "$seeds/oggenc.ogg" "$plain"
  other opusenc --quiet --bitrate 32 "$plain" "$seeds/opusenc.opus"
  other mkvmerge -q -o "$seeds/mkvmerge.mkv" "$seeds/v.mp4"
  rm "$plain"
  # libFuzzer cuts a longer file at -max_len, so a seed over it would only ever be
  # tried as a truncated file.
  for f in "$seeds"/*; do
    size=$(stat -c %s "$f")
    if [ "$size" -gt "$(maxlen engine)" ]; then
      echo "fuzz.sh: $f is $size bytes, over the engine's $(maxlen engine); make it shorter" >&2
      exit 1
    fi
  done
  echo "fuzz.sh: made $(ls "$seeds" | wc -l) seeds, $(du -sk "$seeds" | cut -f1) KiB"
  echo "$stamp" >"$made"
fi

# Freed memory stays in quarantine for a while; a smaller one keeps the baseline low
# enough that the memory limit means something.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=64:malloc_context_size=10
limits="-rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=5"
binary() { [ "$1" = engine ] && echo "$BUILD_DIR/bin/audio_source_fuzzer" || echo "$BUILD_DIR/bin/arguments_fuzzer"; }
extra() { [ "$1" = engine ] && echo "$seeds" || true; }

if [ -n "$merge" ]; then
    for t in $targets; do
        kept=tests/fuzz/corpus/$t
        mkdir -p "$kept" "$BUILD_DIR/work/$t"
        merged=$BUILD_DIR/merged-$t
        rm -rf "$merged"
        mkdir -p "$merged"
        # The generated seeds go in first, as what is covered already, and come out again:
        # the kept corpus holds only what they do not cover.
        [ -z "$(extra "$t")" ] || cp "$seeds"/* "$merged"/
        # Edges only: merging on libFuzzer's finer features as well kept four times the
        # files (3.2 MB against 0.35 MB for the engine) for the same edges.
        "$(binary "$t")" -merge=1 -use_counters=0 $limits -max_len="$(maxlen "$t")" "$merged" \
            "$kept" "$BUILD_DIR/work/$t" 2>&1 | grep -E '^MERGE-OUTER: [0-9]+ new files'
        if [ -n "$(extra "$t")" ]; then
            for seed in "$seeds"/*; do rm -f "$merged/$(basename "$seed")"; done
        fi
        rm -rf "$kept"
        mv "$merged" "$kept"
        echo "$t: $(ls "$kept" | wc -l) files, $(du -sk "$kept" | cut -f1) KiB kept"
    done
    exit 0
fi

status=0
for t in $targets; do
    mkdir -p "tests/fuzz/corpus/$t" "$BUILD_DIR/work/$t"
    log=$BUILD_DIR/last-$t.log
    set +e
    # New inputs go to the first folder; the kept corpus is only read.
    "$(binary "$t")" "$BUILD_DIR/work/$t" "tests/fuzz/corpus/$t" $(extra "$t") $limit \
        -max_len="$(maxlen "$t")" $limits -artifact_prefix="$BUILD_DIR/findings/$t-" \
        -print_final_stats=1 >"$log" 2>&1
    rc=$?
    set -e
    tail -n 25 "$log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+' "$log" | tail -1)
    summary="$(date -u '+%Y-%m-%d %H:%M') $t: ${execs:-0} executions, $cov, exit $rc"
    echo "$summary"
    if [ -n "${FUZZ_LOG:-}" ]; then echo "$summary" >>"$FUZZ_LOG"; fi
    [ $rc -eq 0 ] || status=$rc
done
exit $status
