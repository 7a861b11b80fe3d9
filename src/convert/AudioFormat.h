#pragma once

#include <cstdint>

// The PCM format of a decoded audio stream, field for field the record that a
// WAV "fmt " chunk holds (its first 16 bytes), plus cbSize, which is never written,
// and the channel mask that an extensible format block carries.
struct AudioFormat {
    static constexpr uint16_t kPcm = 1;
    static constexpr uint16_t kIeeeFloat = 3;

    uint16_t wFormatTag = kPcm;
    uint16_t nChannels = 2;
    uint32_t nSamplesPerSec = 44100;
    uint32_t nAvgBytesPerSec = 176400;
    uint16_t nBlockAlign = 4;
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 0;
    // Speaker positions of the channels, as libavutil counts them (the low bits are
    // WAVE_FORMAT_EXTENSIBLE's dwChannelMask); 0 when the stream does not say.
    uint64_t channelMask = 0;
    // False when the channels have named positions other than plain mono or stereo:
    // such a layout needs an extensible format block to be understood.
    bool plainLayout = true;
};
