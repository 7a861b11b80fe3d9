#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct AVFormatContext;

// What FFmpeg may spend on one file. A small hostile file must fail quickly, not take
// gigabytes of memory or minutes of reading: a 139-byte WAV whose chunk sizes lie made
// FFmpeg's WAV demuxer zero-fill 1.6 GB before it gave up.
class LibavLimits {
  public:
    // The largest single allocation FFmpeg may make. Real files stay far below it: a
    // 7680x4320 RGBA picture is 127 MiB, an audio frame a few MiB.
    static constexpr size_t kMaxAllocation = size_t{256} << 20;
    // The most bytes opening a file may read (the format probe, the stream parameters
    // and the duration estimate). FFmpeg's own probe reads about 6 MB; a demuxer that
    // scans for a start code would otherwise read a file of zeros to its end.
    static constexpr int64_t kMaxOpenBytes = int64_t{64} << 20;
    // FFmpeg's decoders take at most 512 channels.
    static constexpr int kMaxChannels = 512;
    // Well above any recorder's rate (DXD is 352.8 kHz, software radios record a few MHz).
    static constexpr int kMaxSampleRate = 10'000'000;
    // Invalid data from the demuxer is skipped; this many in a row end the stream.
    static constexpr int kMaxBadReadsInRow = 64;

    // Sets the allocation cap for the whole process. Call it first thing in main, before
    // any thread starts: libmpv uses the same libavutil, so the preview is bound by it too.
    static void Apply();

    // What the reading of one file is checked against: the budget while it is being
    // opened, and a flag that cancels it from any thread. It must outlive the context.
    struct ReadGuard {
        const std::atomic<bool>* cancel = nullptr;
        const AVFormatContext* fmt = nullptr;
        bool opening = false;
    };

    // avformat_open_input and avformat_find_stream_info under the limits above, for a
    // local file or standard input only ("file:" and "pipe:" URLs): no network, and no
    // playlist or concatenation demuxer that would open other files (a list that names
    // itself opened files until none were left). 0 or a negative AVERROR; on failure
    // *fmt is null.
    static int OpenInput(const std::string& url, AVFormatContext** fmt, ReadGuard& guard);

    // Why a stream with this channel count and rate cannot be converted to WAV, or an
    // empty text when it can.
    static std::string AudioStreamRefusal(int channels, int sampleRate);
};
