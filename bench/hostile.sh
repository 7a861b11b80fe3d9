#!/usr/bin/env bash
# Runs orvane-extract on small files made to cost it memory, time or file handles, and
# prints for each the wall time, the peak resident memory, the exit status and the error.
# The files are written here (they are not media); tests/convert/HostileInputTest.cpp
# checks the same cases on every test run.
#   bench/hostile.sh [ORVANE_EXTRACT ...]      default build/bin/orvane-extract
set -euo pipefail
cd "$(dirname "$0")/.."
bins=()
for bin in "${@:-build/bin/orvane-extract}"; do bins+=("$(realpath "$bin")"); done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# 139 bytes: a WAV whose LIST chunk states a size FFmpeg's WAV demuxer zero-fills.
base64 -d >"$dir/lying.wav" <<'B64'
UklGRmibAABXQVZFZm10ICgAAAD+/wEARKwAAMwEAgADABgAFgAYAAQAAAABAAAAAAAQAIAAAKoAOJtxTElTVBoA//hJTkZPSVNGVA4AAABMYXZmNTkuMjcuMTAwAACLCmR0YQBhfABfsfPS9QCd9gByEMoPAJkPAFgP+gAR+wAI/AAC/QAA/gD/5w==
B64
# A concatenation list that names itself.
printf 'ffconcat version 1.0\nfile self.ffconcat\nfile self.ffconcat\n' >"$dir/self.ffconcat"
# A second of MPEG program stream, then a gigabyte of zeros (a hole: no disk used).
ffmpeg -nostdin -loglevel error -f lavfi -i sine=d=1:r=44100 -c:a mp2 -f mpeg "$dir/zeros.mpg"
truncate -s 1G "$dir/zeros.mpg"
# A PCM WAV header claiming 2,000,000,000 samples a second (16-bit stereo), 4000 bytes.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
{
    printf 'RIFF'; le32 4036; printf 'WAVEfmt '; le32 16; printf '\x01\x00\x02\x00'
    le32 2000000000; le32 $((2000000000 * 4 & 0xFFFFFFFF)); printf '\x04\x00\x10\x00data'; le32 4000
    head -c 4000 /dev/zero
} >"$dir/fast.wav"

echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load $(cut -d' ' -f1-3 /proc/loadavg); FFmpeg $(ffmpeg -version | head -1 | cut -d' ' -f3)"
for bin in "${bins[@]}"; do
    echo "== $bin"
    for name in lying.wav self.ffconcat zeros.mpg fast.wav; do
        for mode in --probe convert; do
            args=("$dir/$name")
            [ "$mode" = --probe ] && args=(--probe "${args[@]}") || args=(-q -y "${args[@]}" "$dir/out.wav")
            set +e
            (cd "$dir" && /usr/bin/time -o "$dir/time" -f "%e s, peak RSS %M KiB" "$bin" "${args[@]}" >"$dir/out" 2>"$dir/err")
            status=$?
            set -e
            printf '%-14s %-8s %s, status %d: %s\n' "$name" "$mode" "$(tail -1 "$dir/time")" "$status" \
                "$(head -c 160 "$dir/err" | tr '\n' ' ' | sed "s#$dir/##g")"
        done
    done
done
