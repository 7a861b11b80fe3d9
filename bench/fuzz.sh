#!/usr/bin/env bash
# Fuzzes the engine's open, probe, seek and fill with libFuzzer.
#   bench/fuzz.sh RUNS         a fixed number of executions (for the report)
#   bench/fuzz.sh --seconds N  a run of N seconds (CI's smoke run)
# The seed corpus is generated: a small file of every container the tests use.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--seconds" ]; then limit="-max_total_time=${2:-60}"; else limit="-runs=${1:-100000}"; fi
BUILD_DIR=build-fuzz
CC=clang CXX=clang++ cmake -S . -B $BUILD_DIR -G Ninja -DORVANE_FUZZ=ON -DORVANE_ENGINE_ONLY=ON -DORVANE_WERROR=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_SANITIZE=fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build $BUILD_DIR -j2 --target audio_source_fuzzer
seeds=$BUILD_DIR/seeds; corpus=$BUILD_DIR/corpus
mkdir -p "$seeds" "$corpus" "$BUILD_DIR/findings"
if [ ! -f "$seeds/.made" ]; then
  tone="-f lavfi -i sine=f=440:r=44100:d=0.3"
  ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
  ff $tone -c:a pcm_s16le "$seeds/s16.wav"
  ff $tone -c:a pcm_u8 -ac 1 "$seeds/u8.wav"
  ff $tone -c:a pcm_s24le "$seeds/s24.wav"
  ff $tone -c:a mp2 "$seeds/a.mp2"
  ff $tone -c:a libmp3lame "$seeds/a.mp3"
  ff -f lavfi -i sine=r=48000:d=0.3 -c:a ac3 "$seeds/a.ac3"
  ff -f lavfi -i sine=r=48000:d=0.3 -c:a aac "$seeds/a.m4a"
  ff -f lavfi -i sine=r=48000:d=0.3 -c:a libvorbis "$seeds/a.ogg"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 $tone -c:v mpeg1video -c:a mp2 "$seeds/ps.mpg"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 $tone -c:v mpeg2video -c:a mp2 -f mpegts "$seeds/ts.ts"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 -f lavfi -i sine=r=48000:d=0.3 -c:v mpeg4 -c:a aac "$seeds/v.mp4"
  ff -f lavfi -i testsrc=d=0.3:s=64x48:r=25 -f lavfi -i sine=r=48000:d=0.3 -c:v mpeg4 -c:a ac3 "$seeds/v.mkv"
  touch "$seeds/.made"
fi
export ASAN_OPTIONS=detect_leaks=1
"$BUILD_DIR/bin/audio_source_fuzzer" "$corpus" "$seeds" $limit -max_len=65536 -timeout=20 \
  -rss_limit_mb=2048 -artifact_prefix="$BUILD_DIR/findings/" -print_final_stats=1 2>&1 | tail -n 25
