#pragma once

#include <cstdint>

#include "SampleFormat.h"

struct AVFrame;

// The engine's rules for decoded samples: which PCM format a decoder's output becomes, and
// how many samples integer output clips.
namespace LibavSamples {

struct Output {
    int format = 0;  // AVSampleFormat the converter makes
    int bits = 16;   // bits a sample in the WAV file
    bool ieeeFloat = false;
};

// The output for a decoder's sample format: the one asked for, or for Auto the classic
// rule (8-bit stays unsigned 8-bit, 24- and 32-bit integers keep their depth, everything
// else becomes 16-bit).
Output Choose(int decoderFormat, int bitsPerRawSample, SampleFormat wanted);
bool IsFloatFormat(int format);
// How many samples of a floating-point frame integer output of `bits` clips.
int64_t ClippedIn(const AVFrame* frame, int bits);

}  // namespace LibavSamples
