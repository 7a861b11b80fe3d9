#include "FramePacker.h"

#include <algorithm>

#include "LibavLimits.h"
#include "LibavSamples.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

FramePacker::~FramePacker() {
    swr_free(&m_swr);
}

std::string FramePacker::Configure(const AVCodecContext* dec, SampleFormat wanted) {
    swr_free(&m_swr);
    m_swrInFormat = -1;
    const int channels = dec->ch_layout.nb_channels;
    std::string refusal = LibavLimits::AudioStreamRefusal(channels, dec->sample_rate);
    if (!refusal.empty()) {
        return refusal;
    }
    const auto in = static_cast<AVSampleFormat>(dec->sample_fmt);
    const LibavSamples::Output chosen = LibavSamples::Choose(in, dec->bits_per_raw_sample, wanted);
    const auto out = static_cast<AVSampleFormat>(chosen.format);
    const int bits = chosen.bits;
    const uint16_t tag = chosen.ieeeFloat ? AudioFormat::kIeeeFloat : AudioFormat::kPcm;
    m_outSampleFormat = out;
    m_packing = in == out && bits != 24 ? Packing::Copy : Packing::Swr;
    m_bCountClips = tag == AudioFormat::kPcm && LibavSamples::IsFloatFormat(in);
    m_nClipped = 0;

    AVChannelLayout layout{};
    if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        // Unnamed channels get the usual positions for their count, as FFmpeg's own
        // conversions guess them.
        av_channel_layout_default(&layout, channels);
    } else {
        av_channel_layout_copy(&layout, &dec->ch_layout);
    }
    const AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;

    m_format = AudioFormat{};
    m_format.wFormatTag = tag;
    m_format.nChannels = static_cast<uint16_t>(channels);
    m_format.nSamplesPerSec = static_cast<uint32_t>(dec->sample_rate);
    m_format.wBitsPerSample = static_cast<uint16_t>(bits);
    m_format.nBlockAlign = static_cast<uint16_t>(channels * (bits / 8));
    m_format.nAvgBytesPerSec = m_format.nSamplesPerSec * m_format.nBlockAlign;
    m_format.cbSize = 0;
    m_format.channelMask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    m_format.plainLayout = layout.order != AV_CHANNEL_ORDER_NATIVE ||
                           av_channel_layout_compare(&layout, &mono) == 0 ||
                           av_channel_layout_compare(&layout, &stereo) == 0;
    av_channel_layout_uninit(&layout);
    return {};
}

bool FramePacker::Append(const AVFrame* f, int first, int count, std::vector<uint8_t>& out) {
    if (count <= 0) {
        return false;
    }
    if (m_bCountClips) {
        m_nClipped += LibavSamples::ClippedIn(f, m_format.wBitsPerSample);
    }
    const size_t frameBytes = static_cast<size_t>(count) * m_format.nBlockAlign;
    const size_t base = out.size();

    if (m_packing == Packing::Copy && f->format == m_outSampleFormat &&
        f->ch_layout.nb_channels == m_format.nChannels) {
        const int inBlock = av_get_bytes_per_sample(static_cast<AVSampleFormat>(f->format)) *
                            f->ch_layout.nb_channels;
        const uint8_t* src = f->extended_data[0] + static_cast<size_t>(first) * inBlock;
        out.insert(out.end(), src, src + frameBytes);
        return true;
    }
    const uint8_t* src = nullptr;
    if (m_format.wBitsPerSample == 24 && f->format == AV_SAMPLE_FMT_S32 &&
        f->ch_layout.nb_channels == m_format.nChannels) {
        // Already interleaved 32-bit: packed straight from the frame.
        src = f->extended_data[0] + static_cast<size_t>(first) * 4 * m_format.nChannels;
    } else {
        if (!ConfigureConverter(f)) {
            return false;
        }
        const auto outFormat = static_cast<AVSampleFormat>(m_outSampleFormat);
        const int outBlock = av_get_bytes_per_sample(outFormat) * m_format.nChannels;
        const int capacity = swr_get_out_samples(m_swr, f->nb_samples);
        if (capacity <= 0) {
            return false;
        }
        m_scratch.resize(static_cast<size_t>(capacity) * outBlock);
        uint8_t* dst = m_scratch.data();
        const int got = swr_convert(m_swr, &dst, capacity,
                                    const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        if (got <= first) {
            return false;
        }
        count = std::min(count, got - first);
        src = m_scratch.data() + static_cast<size_t>(first) * outBlock;
        if (m_format.wBitsPerSample != 24) {
            out.insert(out.end(), src, src + static_cast<size_t>(count) * outBlock);
            return true;
        }
    }
    // 24-bit samples are the top three bytes of 32-bit ones.
    const size_t n = static_cast<size_t>(count) * m_format.nChannels;
    out.resize(base + n * 3);
    uint8_t* p = out.data() + base;
    for (size_t i = 0; i < n; ++i, p += 3, src += 4) {
        p[0] = src[1];
        p[1] = src[2];
        p[2] = src[3];
    }
    return true;
}

bool FramePacker::ConfigureConverter(const AVFrame* f) {
    if (m_swr != nullptr && f->format == m_swrInFormat && f->sample_rate == m_swrInRate &&
        f->ch_layout.nb_channels == m_swrInChannels) {
        return true;
    }
    swr_free(&m_swr);
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&inLayout, f->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&inLayout, &f->ch_layout);
    }
    if (f->ch_layout.nb_channels == m_format.nChannels) {
        av_channel_layout_copy(&outLayout, &inLayout);
    } else {
        av_channel_layout_default(&outLayout, m_format.nChannels);
    }
    const int rate =
        f->sample_rate > 0 ? f->sample_rate : static_cast<int>(m_format.nSamplesPerSec);
    const int r =
        swr_alloc_set_opts2(&m_swr, &outLayout, static_cast<AVSampleFormat>(m_outSampleFormat),
                            static_cast<int>(m_format.nSamplesPerSec), &inLayout,
                            static_cast<AVSampleFormat>(f->format), rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (r < 0 || swr_init(m_swr) < 0) {
        swr_free(&m_swr);
        return false;
    }
    m_swrInFormat = f->format;
    m_swrInRate = f->sample_rate;
    m_swrInChannels = f->ch_layout.nb_channels;
    return true;
}
