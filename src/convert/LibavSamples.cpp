#include "LibavSamples.h"

#include <algorithm>
#include <cstddef>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace LibavSamples {

namespace {

// How many of n samples land outside the integer range when scaled by 2^(bits-1) and
// rounded to nearest, as the converter rounds them. Compared in the samples' own type:
// the limits used for float samples are exact in float, and the loop vectorises.
// Counted in lanes as wide as the samples (a 64-bit count would halve the float loop's
// width), in runs short enough that a lane cannot overflow.
template <typename T, typename Lane>
int64_t Outside(const T* p, size_t n, T lowest, T highest) {
    constexpr size_t kRun = size_t{1} << 24;
    int64_t count = 0;
    for (size_t begin = 0; begin < n; begin += kRun) {
        const size_t end = std::min(n, begin + kRun);
        Lane run = 0;
        for (size_t i = begin; i < end; ++i) {
            run += static_cast<Lane>(p[i] >= highest) | static_cast<Lane>(p[i] < lowest);
        }
        count += run;
    }
    return count;
}

}  // namespace

Output Choose(int decoderFormat, int bitsPerRawSample, SampleFormat wanted) {
    Output out{AV_SAMPLE_FMT_S16, 16, false};
    switch (wanted) {
        case SampleFormat::S16:
            break;
        case SampleFormat::S24:
            out = {AV_SAMPLE_FMT_S32, 24, false};  // packed to three bytes on the way out
            break;
        case SampleFormat::S32:
            out = {AV_SAMPLE_FMT_S32, 32, false};
            break;
        case SampleFormat::F32:
            out = {AV_SAMPLE_FMT_FLT, 32, true};
            break;
        case SampleFormat::Auto:
            switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(decoderFormat))) {
                case AV_SAMPLE_FMT_U8:
                    out = {AV_SAMPLE_FMT_U8, 8, false};
                    break;
                case AV_SAMPLE_FMT_S32:
                case AV_SAMPLE_FMT_S64:
                    out = {AV_SAMPLE_FMT_S32,
                           bitsPerRawSample > 16 && bitsPerRawSample <= 24 ? 24 : 32, false};
                    break;
                default:  // S16 stays; float and double decoders give 16-bit
                    break;
            }
            break;
    }
    return out;
}

bool IsFloatFormat(int format) {
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_DBL:
            return true;
        default:
            return false;
    }
}

int64_t ClippedIn(const AVFrame* f, int bits) {
    const auto format = static_cast<AVSampleFormat>(f->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? f->ch_layout.nb_channels : 1;
    const size_t perPlane =
        static_cast<size_t>(f->nb_samples) * (planar ? 1 : f->ch_layout.nb_channels);
    // Rounded to nearest-even after scaling: a half step past the top rounds up and out.
    const double scale = bits == 16 ? 32768.0 : 2147483648.0;
    const double highest = (scale - 0.5) / scale;
    const double lowest = (-scale - 0.5) / scale;
    const bool isDouble = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_DBL;
    int64_t clipped = 0;
    for (int p = 0; p < planes; ++p) {
        const uint8_t* data = f->extended_data[p];
        if (isDouble) {
            clipped += Outside<double, int64_t>(reinterpret_cast<const double*>(data), perPlane,
                                                lowest, highest);
        } else if (bits == 16) {
            // 1 - 2^-16 and -(1 + 2^-16): exact in float.
            clipped +=
                Outside<float, int32_t>(reinterpret_cast<const float*>(data), perPlane,
                                        static_cast<float>(lowest), static_cast<float>(highest));
        } else {
            // A float scaled by 2^31 has no half steps there: 1.0 and above clip.
            clipped += Outside<float, int32_t>(reinterpret_cast<const float*>(data), perPlane,
                                               -1.0f, 1.0f);
        }
    }
    return clipped;
}

}  // namespace LibavSamples
