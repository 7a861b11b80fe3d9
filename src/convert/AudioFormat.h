#pragma once

#include <cstdint>

// The PCM format of a decoded audio stream, field for field the record that a
// WAV "fmt " chunk holds (its first 16 bytes), plus cbSize, which is never written.
struct AudioFormat {
    uint16_t wFormatTag = 1;  // 1: PCM
    uint16_t nChannels = 2;
    uint32_t nSamplesPerSec = 44100;
    uint32_t nAvgBytesPerSec = 176400;
    uint16_t nBlockAlign = 4;
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 0;
};
