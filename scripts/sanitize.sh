#!/usr/bin/env bash
# The tests under AddressSanitizer+UBSan, and the threaded parts under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
# The benchmark programs, which no sanitizer run uses, are left out.
# Line tables only: the reports keep their file and line. Not optimised: at -O1 the
# heaviest test files (CLI11, nlohmann::json, gtest tables) take twice as long to compile
# under the sanitizers, more than the tests gain.
debug_flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1")
BUILD_DIR=build-asan ./scripts/build.sh -DORVANE_SANITIZE=address "${debug_flags[@]}" \
  -DORVANE_BUILD_TESTS=ON -DORVANE_ENGINE_ONLY=OFF -DORVANE_BUILD_BENCH=OFF
./scripts/check-suites.sh build-asan
# The suites that write gigabytes run in the plain build only.
ctest --test-dir build-asan --output-on-failure --no-tests=error -j2 -LE large

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
# Only the suites that run here are built. File by file and without the shared
# precompiled headers: each of their files must include what it uses, and here a missing
# include fails the build instead of hiding behind them or behind the file before it in a
# joined build (the smallest build of the three pays for it).
BUILD_DIR=build-tsan BUILD_TARGETS="$(./scripts/check-suites.sh --list threaded)" ./scripts/build.sh -DORVANE_SANITIZE=thread "${debug_flags[@]}" \
  -DORVANE_BUILD_TESTS=ON -DORVANE_ENGINE_ONLY=OFF -DORVANE_TEST_PCH=OFF -DORVANE_UNITY_BUILD=OFF -DORVANE_BUILD_BENCH=OFF
./scripts/check-suites.sh build-tsan threaded
# The codec sweeps convert file after file through the same two threads as any other
# conversion (or through the same sections): under this sanitizer they add minutes and no
# new hand-over between threads.
# They run in the plain and the AddressSanitizer builds.
sweeps='^(Encoders/CutAlignment\.|Muxers/AvSync\.|FormatSweep\.EveryNamed|OutputFormat\.EveryFormatAndHeader|JoinedTimeline\.CutsAnywhere|FfmpegAudioSource\.LossyCuts|SectionedConversion\.EveryEnd)'
ctest --test-dir build-tsan --output-on-failure --no-tests=error -j2 -L threaded -E "$sweeps"
