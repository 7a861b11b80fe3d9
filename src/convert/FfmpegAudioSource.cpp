#include "FfmpegAudioSource.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "LibavLimits.h"
#include "MediaTime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr AVRational kMediaTimeBase{1, static_cast<int>(MediaTime::kUnitsPerSecond)};
// Invalid data from the demuxer is skipped; this many in a row end the stream.
constexpr int kMaxBadReadsInRow = 64;

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Opens a file and reads its stream parameters, within what a hostile file may cost.
// Quiet: libav's log stays at errors only.
int OpenInput(const std::string& path, AVFormatContext** fmt) {
    return LibavLimits::OpenInput(path, fmt);
}

int64_t DurationOf(const AVFormatContext* fmt) {
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0) {
        return 0;
    }
    return av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kMediaTimeBase);
}

int64_t StartOf(const AVFormatContext* fmt) {
    return fmt->start_time == AV_NOPTS_VALUE ? 0 : fmt->start_time;
}

}  // namespace

FfmpegAudioSource::FfmpegAudioSource() {
    av_log_set_level(AV_LOG_ERROR);
}

FfmpegAudioSource::~FfmpegAudioSource() {
    Release();
}

int FfmpegAudioSource::Fail(int code, const std::string& what) {
    m_strError = what + ": " + ErrorText(code);
    Release();
    return code;
}

int FfmpegAudioSource::OpenAudioStream(const std::string& path) {
    Release();
    m_strError.clear();
    int r = OpenInput(path, &m_fmt);
    if (r < 0) {
        return Fail(r, "cannot open the file");
    }
    const AVCodec* codec = nullptr;
    r = av_find_best_stream(m_fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (r == AVERROR_STREAM_NOT_FOUND) {
        return Fail(r, "the file has no audio stream");
    }
    if (r < 0) {
        return Fail(r, "no decoder for the audio stream");
    }
    m_nStream = r;
    // MPEG audio has a fixed-point and a floating-point decoder; the floating-point one
    // is about twice as fast here and its 16-bit output differs by at most one step.
    const std::string floatName = std::string(codec->name) + "float";
    if (floatName == "mp1float" || floatName == "mp2float" || floatName == "mp3float") {
        if (const AVCodec* faster = avcodec_find_decoder_by_name(floatName.c_str())) {
            codec = faster;
        }
    }
    // Only the audio stream is read into decoding; the demuxer skips the rest.
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i) {
        m_fmt->streams[i]->discard =
            static_cast<int>(i) == m_nStream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    m_dec = avcodec_alloc_context3(codec);
    if (m_dec == nullptr) {
        return Fail(AVERROR(ENOMEM), "cannot allocate the decoder");
    }
    r = avcodec_parameters_to_context(m_dec, m_fmt->streams[m_nStream]->codecpar);
    if (r >= 0) {
        m_dec->pkt_timebase = m_fmt->streams[m_nStream]->time_base;
        r = avcodec_open2(m_dec, codec, nullptr);
    }
    if (r < 0) {
        return Fail(r, std::string("cannot open the ") + codec->name + " decoder");
    }
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (m_pkt == nullptr || m_frame == nullptr) {
        return Fail(AVERROR(ENOMEM), "out of memory");
    }
    m_rtDuration = DurationOf(m_fmt);
    return 0;
}

int FfmpegAudioSource::PrepareAudioSample(AudioFormat& format) {
    if (m_dec == nullptr) {
        m_strError = "no audio stream is open";
        return AVERROR(EINVAL);
    }
    const int channels = m_dec->ch_layout.nb_channels;
    m_strError = LibavLimits::AudioStreamRefusal(channels, m_dec->sample_rate);
    if (!m_strError.empty()) {
        return AVERROR_INVALIDDATA;
    }
    const auto in = static_cast<AVSampleFormat>(m_dec->sample_fmt);
    int bits = 16;
    AVSampleFormat out = AV_SAMPLE_FMT_S16;
    switch (av_get_packed_sample_fmt(in)) {
        case AV_SAMPLE_FMT_U8:
            bits = 8;
            out = AV_SAMPLE_FMT_U8;
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S64:
            out = AV_SAMPLE_FMT_S32;
            bits = (m_dec->bits_per_raw_sample > 16 && m_dec->bits_per_raw_sample <= 24) ? 24 : 32;
            break;
        default:  // S16 stays; float and double decoders give 16-bit
            break;
    }
    m_outSampleFormat = out;
    if (in == out) {
        m_packing = bits == 24 ? Packing::Pack24 : Packing::Copy;
    } else {
        m_packing = Packing::Swr;
    }
    m_format = AudioFormat{};
    m_format.wFormatTag = 1;
    m_format.nChannels = static_cast<uint16_t>(channels);
    m_format.nSamplesPerSec = static_cast<uint32_t>(m_dec->sample_rate);
    m_format.wBitsPerSample = static_cast<uint16_t>(bits);
    m_format.nBlockAlign = static_cast<uint16_t>(channels * (bits / 8));
    m_format.nAvgBytesPerSec = m_format.nSamplesPerSec * m_format.nBlockAlign;
    m_format.cbSize = 0;
    format = m_format;
    m_pending.reserve(1 << 16);
    return 0;
}

int FfmpegAudioSource::Seek(int64_t rtStart) {
    if (m_fmt == nullptr || rtStart <= 0) {
        return 0;
    }
    const AVStream* st = m_fmt->streams[m_nStream];
    const int64_t startRt = av_rescale_q(StartOf(m_fmt), AV_TIME_BASE_Q, kMediaTimeBase);
    m_nTargetSample =
        av_rescale_q(startRt + rtStart, kMediaTimeBase, AVRational{1, m_dec->sample_rate});
    m_bTrimming = true;
    m_bHaveRel = false;
    if (rtStart <= kSeekPreroll) {
        // Close to the start: decoding from here is the warm-up.
        return 0;
    }
    const int64_t seekPts =
        av_rescale_q(startRt + rtStart - kSeekPreroll, kMediaTimeBase, st->time_base);
    const int r = avformat_seek_file(m_fmt, m_nStream, INT64_MIN, seekPts, seekPts, 0);
    if (r < 0) {
        // Not seekable: decode from the start and drop what lies before the target.
        return r;
    }
    avcodec_flush_buffers(m_dec);
    m_pending.clear();
    m_nPendingPos = 0;
    return 0;
}

long FfmpegAudioSource::FillAudioBuffer(uint8_t* buffer) {
    size_t count = 0;
    while (count < AUDIO_BUFFER_SIZE) {
        if (m_nPendingPos < m_pending.size()) {
            const size_t n = std::min(AUDIO_BUFFER_SIZE - count, m_pending.size() - m_nPendingPos);
            std::memcpy(buffer + count, m_pending.data() + m_nPendingPos, n);
            m_nPendingPos += n;
            count += n;
            continue;
        }
        m_pending.clear();
        m_nPendingPos = 0;
        if (m_bEnded || !DecodeMore()) {
            m_bEnded = true;
            break;
        }
    }
    if (count == 0 && m_bEnded) {
        return kEndOfStream;
    }
    return static_cast<long>(count);
}

bool FfmpegAudioSource::DecodeMore() {
    if (m_dec == nullptr) {
        return false;
    }
    for (;;) {
        int r = avcodec_receive_frame(m_dec, m_frame);
        if (r == 0) {
            const bool kept = TakeFrame();
            av_frame_unref(m_frame);
            if (kept) {
                return true;
            }
            continue;
        }
        if (r == AVERROR_EOF || (r != AVERROR(EAGAIN) && m_bInputDone)) {
            return false;
        }
        if (r != AVERROR(EAGAIN)) {
            continue;  // a frame that failed to decode is skipped
        }
        if (m_bInputDone) {
            return false;
        }
        r = av_read_frame(m_fmt, m_pkt);
        if (r < 0) {
            if (r == AVERROR_INVALIDDATA && ++m_nBadReads < kMaxBadReadsInRow) {
                continue;
            }
            // The end of the file, or a read error that ends the stream: drain the decoder.
            m_bInputDone = true;
            avcodec_send_packet(m_dec, nullptr);
            continue;
        }
        m_nBadReads = 0;
        if (m_pkt->stream_index == m_nStream) {
            // A packet the decoder rejects is skipped.
            avcodec_send_packet(m_dec, m_pkt);
        }
        av_packet_unref(m_pkt);
    }
}

bool FfmpegAudioSource::TakeFrame() {
    const AVFrame* f = m_frame;
    int64_t skip = 0;
    if (m_bTrimming) {
        const AVRational tb = m_fmt->streams[m_nStream]->time_base;
        const AVRational sampleTb{1, m_dec->sample_rate};
        const int64_t pts =
            f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        int64_t rel = m_nNextRelSample;
        if (pts != AV_NOPTS_VALUE) {
            const int64_t fromPts = av_rescale_q(pts, tb, sampleTb) - m_nTargetSample;
            // Containers that count in milliseconds round every frame's time; within a
            // tick of where the samples so far put it, counting is the exact measure.
            const int64_t tick = av_rescale_q(1, tb, sampleTb) + 1;
            if (!m_bHaveRel || std::llabs(fromPts - m_nNextRelSample) > tick) {
                rel = fromPts;
            }
        } else if (!m_bHaveRel) {
            return false;  // no time yet: cannot tell where the target lies
        }
        m_bHaveRel = true;
        m_nNextRelSample = rel + f->nb_samples;
        if (rel + f->nb_samples <= 0) {
            return false;
        }
        skip = rel < 0 ? -rel : 0;
        m_bTrimming = false;
    }
    const int samples = f->nb_samples - static_cast<int>(skip);
    if (samples <= 0) {
        return false;
    }
    const size_t frameBytes = static_cast<size_t>(samples) * m_format.nBlockAlign;
    const size_t base = m_pending.size();

    if (m_packing == Packing::Copy && f->format == m_outSampleFormat &&
        f->ch_layout.nb_channels == m_format.nChannels) {
        const int inBlock = av_get_bytes_per_sample(static_cast<AVSampleFormat>(f->format)) *
                            f->ch_layout.nb_channels;
        const uint8_t* src = f->extended_data[0] + skip * inBlock;
        m_pending.insert(m_pending.end(), src, src + frameBytes);
        return true;
    }
    if (!ConfigureConverter(f)) {
        return false;
    }
    const AVSampleFormat out = static_cast<AVSampleFormat>(m_outSampleFormat);
    const int outBlock = av_get_bytes_per_sample(out) * m_format.nChannels;
    const int capacity = swr_get_out_samples(m_swr, f->nb_samples);
    if (capacity <= 0) {
        return false;
    }
    m_scratch.resize(static_cast<size_t>(capacity) * outBlock);
    uint8_t* dst = m_scratch.data();
    const int got = swr_convert(m_swr, &dst, capacity,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= static_cast<int>(skip)) {
        return false;
    }
    const uint8_t* src = m_scratch.data() + skip * outBlock;
    const int keep = got - static_cast<int>(skip);
    if (m_format.wBitsPerSample == 24) {
        // 24-bit samples arrive in the top three bytes of 32-bit ones.
        const size_t n = static_cast<size_t>(keep) * m_format.nChannels;
        m_pending.resize(base + n * 3);
        uint8_t* p = m_pending.data() + base;
        for (size_t i = 0; i < n; ++i, p += 3, src += 4) {
            p[0] = src[1];
            p[1] = src[2];
            p[2] = src[3];
        }
    } else {
        m_pending.insert(m_pending.end(), src, src + static_cast<size_t>(keep) * outBlock);
    }
    return true;
}

bool FfmpegAudioSource::ConfigureConverter(const AVFrame* f) {
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
    int r = swr_alloc_set_opts2(&m_swr, &outLayout, static_cast<AVSampleFormat>(m_outSampleFormat),
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

void FfmpegAudioSource::Release() {
    swr_free(&m_swr);
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    avformat_close_input(&m_fmt);
    m_nStream = -1;
    m_rtDuration = 0;
    m_pending.clear();
    m_nPendingPos = 0;
    m_bInputDone = false;
    m_bEnded = false;
    m_bTrimming = false;
    m_bHaveRel = false;
    m_nBadReads = 0;
    m_swrInFormat = -1;
}

bool FfmpegAudioSource::GetMediaDuration(const std::string& path, int64_t& duration) {
    AVFormatContext* fmt = nullptr;
    const int r = OpenInput(path, &fmt);
    if (r < 0) {
        m_strError = "cannot open the file: " + ErrorText(r);
        return false;
    }
    duration = DurationOf(fmt);
    avformat_close_input(&fmt);
    return true;
}
