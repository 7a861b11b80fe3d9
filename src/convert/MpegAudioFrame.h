#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The header of one MPEG audio frame (layer I, II or III), and the info frame that
// encoders put first in a file: a frame without sound whose body holds "Xing" or "Info"
// (with LAME's tag: the encoder's delay and padding) or "VBRI". Containers other than a
// plain MP3 file keep such a frame as a packet of its own, which decoders take for
// silence.
struct MpegAudioFrame {
    // What an info frame says about the stream that follows it.
    struct Info {
        int64_t frames = -1;  // sound frames after the info frame; -1 when not given
        int delay = -1;       // samples the encoder put before the sound; -1 when not given
        int padding = -1;     // samples it added after the sound; -1 when not given
    };

    int layer = 0;      // 1, 2 or 3
    bool mpeg1 = true;  // false for MPEG-2 and MPEG-2.5 (half the samples a layer III frame)
    int sampleRate = 0;
    int channels = 0;
    int samples = 0;  // sample frames one frame decodes to

    // The header at the start of data; nullopt when it is not a valid one.
    static std::optional<MpegAudioFrame> Parse(const uint8_t* data, size_t size);
    // The info frame's contents when data (one whole frame) is one; nullopt otherwise.
    static std::optional<Info> ReadInfo(const uint8_t* data, size_t size);

    // The samples by which the layer's decoded sound lags the frames' times when nothing
    // records it: the polyphase filter bank (512 - 32 + 1), plus for layer III the
    // usual encoder's 576 samples.
    int CodecLead() const { return layer == 3 ? kDecoderDelay + kUsualEncoderDelay : 481; }

    // The layer III decoder's own delay, which a recorded encoder delay does not include.
    static constexpr int kDecoderDelay = 529;
    static constexpr int kUsualEncoderDelay = 576;
};
