#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AudioFormat.h"
#include "SampleFormat.h"

struct AVCodecContext;
struct AVFrame;
struct SwrContext;

// Turns a decoder's frames into the bytes of a WAV file's data chunk, in the output PCM
// format chosen for the decoder: copied where the decoder's samples already are that
// format, converted as FFmpeg converts them otherwise, 24-bit as the top three bytes of
// 32-bit samples. Never resampled or mixed.
class FramePacker {
  public:
    FramePacker() = default;
    ~FramePacker();
    FramePacker(const FramePacker&) = delete;
    FramePacker& operator=(const FramePacker&) = delete;

    // Chooses the output for the open decoder: the requested sample format, or for Auto
    // the stream's own depth (16-bit for floating-point decoders). An empty text on
    // success; else why the stream cannot be converted.
    std::string Configure(const AVCodecContext* dec, SampleFormat wanted);
    const AudioFormat& Format() const { return m_format; }

    // Appends count samples of the frame, from sample first on, to out; false when the
    // frame cannot be converted.
    bool Append(const AVFrame* frame, int first, int count, std::vector<uint8_t>& out);
    // Samples of a floating-point stream that integer output had to clip so far.
    int64_t Clipped() const { return m_nClipped; }

  private:
    enum class Packing { Copy, Swr };

    bool ConfigureConverter(const AVFrame* frame);

    AudioFormat m_format;
    int m_outSampleFormat = -1;  // AVSampleFormat of the output
    Packing m_packing = Packing::Copy;
    bool m_bCountClips = false;
    int64_t m_nClipped = 0;
    SwrContext* m_swr = nullptr;
    int m_swrInFormat = -1;
    int m_swrInRate = 0;
    int m_swrInChannels = 0;
    std::vector<uint8_t> m_scratch;
};
