#include "MpegAudioFrame.h"

#include <cstring>

namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

std::optional<MpegAudioFrame> MpegAudioFrame::Parse(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 4) {
        return std::nullopt;
    }
    const uint32_t h = BigEndian32(data);
    const uint32_t version = (h >> 19) & 3;    // 0: 2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
    const uint32_t layerBits = (h >> 17) & 3;  // 1: III, 2: II, 3: I
    const uint32_t bitrate = (h >> 12) & 15;
    const uint32_t rateIndex = (h >> 10) & 3;
    if ((h & 0xFFE00000u) != 0xFFE00000u || version == 1 || layerBits == 0 || bitrate == 15 ||
        rateIndex == 3) {
        return std::nullopt;
    }
    static constexpr int kRates[3] = {44100, 48000, 32000};
    MpegAudioFrame frame;
    frame.layer = 4 - static_cast<int>(layerBits);
    frame.mpeg1 = version == 3;
    frame.sampleRate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    frame.channels = ((h >> 6) & 3) == 3 ? 1 : 2;
    frame.samples = frame.layer == 1 ? 384 : (frame.layer == 3 && !frame.mpeg1 ? 576 : 1152);
    return frame;
}

std::optional<MpegAudioFrame::Info> MpegAudioFrame::ReadInfo(const uint8_t* data, size_t size) {
    const std::optional<MpegAudioFrame> frame = Parse(data, size);
    if (!frame || frame->layer != 3) {
        return std::nullopt;
    }
    // The tag follows the header and the side information, whose size depends on the
    // version and the channels.
    const size_t sideInfo =
        frame->mpeg1 ? (frame->channels == 1 ? 17 : 32) : (frame->channels == 1 ? 9 : 17);
    size_t p = 4 + sideInfo;
    Info info;
    if (size >= 36 + 18 && std::memcmp(data + 36, "VBRI", 4) == 0) {
        // VBRI: version, delay, quality, bytes, frames.
        info.frames = BigEndian32(data + 36 + 14);
        return info;
    }
    if (size < p + 8 ||
        (std::memcmp(data + p, "Xing", 4) != 0 && std::memcmp(data + p, "Info", 4) != 0)) {
        return std::nullopt;
    }
    const uint32_t flags = BigEndian32(data + p + 4);
    p += 8;
    if ((flags & 1) != 0 && size >= p + 4) {
        info.frames = BigEndian32(data + p);
    }
    p += (flags & 1) != 0 ? 4 : 0;
    p += (flags & 2) != 0 ? 4 : 0;    // bytes
    p += (flags & 4) != 0 ? 100 : 0;  // seek table
    p += (flags & 8) != 0 ? 4 : 0;    // quality
    // LAME's tag (also written by FFmpeg's encoders): 9 bytes of encoder name, then the
    // delay and padding as two 12-bit numbers at byte 21.
    if (size >= p + 24 &&
        (std::memcmp(data + p, "LAME", 4) == 0 || std::memcmp(data + p, "Lavc", 4) == 0 ||
         std::memcmp(data + p, "Lavf", 4) == 0)) {
        const uint32_t v =
            (uint32_t{data[p + 21]} << 16) | (uint32_t{data[p + 22]} << 8) | data[p + 23];
        info.delay = static_cast<int>(v >> 12);
        info.padding = static_cast<int>(v & 0xFFF);
    }
    return info;
}
