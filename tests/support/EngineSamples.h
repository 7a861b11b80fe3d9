#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FfmpegAudioSource.h"

// The engine's 16-bit samples of a file's track (the primary one unless named) from rtStart
// on: count of them, or all, interleaved.
inline std::vector<int16_t> EngineSamples(const std::string& path, int64_t rtStart,
                                          size_t count = SIZE_MAX,
                                          int track = AudioStreamSource::kPrimaryTrack) {
    FfmpegAudioSource source;
    EXPECT_EQ(source.OpenAudioStream(path, track), 0) << source.LastError();
    AudioFormat format;
    EXPECT_EQ(source.PrepareAudioSample(format), 0);
    source.Seek(rtStart);
    std::vector<int16_t> samples;
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    while (samples.size() < count) {
        const long got = source.FillAudioBuffer(buffer);
        if (got == AudioStreamSource::kEndOfStream) {
            break;
        }
        const auto* s = reinterpret_cast<const int16_t*>(buffer);
        samples.insert(samples.end(), s, s + got / 2);
    }
    samples.resize(std::min(samples.size(), count));
    return samples;
}
