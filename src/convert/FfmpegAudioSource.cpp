#include "FfmpegAudioSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LibavFile.h"
#include "LibavLimits.h"
#include "LibavSamples.h"
#include "MediaTime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

using LibavFile::DurationOf;
using LibavFile::ErrorText;
using LibavFile::kMediaTimeBase;
using LibavFile::LeadOf;
using LibavFile::LeadTime;
using LibavFile::ListTracks;
using LibavFile::OpenInput;
using LibavFile::OriginOf;
using LibavFile::ReadFirstPacket;
using LibavFile::TimelineOf;

// Invalid data from the demuxer is skipped; this many in a row end the stream.
static constexpr int kMaxBadReadsInRow = 64;

AudioSourceFactory FfmpegAudioSource::Factory() {
    return [] { return std::make_unique<FfmpegAudioSource>(); };
}

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

int FfmpegAudioSource::OpenAudioStream(const std::string& path, int track) {
    Release();
    m_tracks.clear();
    m_strError.clear();
    m_guard = LibavLimits::ReadGuard{m_interrupt};
    int r = OpenInput(path, &m_fmt, m_guard);
    if (r < 0) {
        return Fail(r, "cannot open the file");
    }
    const AVCodec* codec = nullptr;
    const int best = av_find_best_stream(m_fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    m_tracks = ListTracks(m_fmt, best);
    if (track != kPrimaryTrack) {
        if (track < 1 || track > static_cast<int>(m_tracks.size())) {
            const size_t count = m_tracks.size();
            Release();
            m_strError = "the file has " + std::to_string(count) +
                         (count == 1 ? " audio track" : " audio tracks") + ", not a track " +
                         std::to_string(track);
            return kNoSuchTrack;
        }
        r = m_tracks[track - 1].streamIndex;
        codec = avcodec_find_decoder(m_fmt->streams[r]->codecpar->codec_id);
        if (codec == nullptr) {
            r = AVERROR_DECODER_NOT_FOUND;
        }
    } else {
        r = best;
    }
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
    AVStream* st = m_fmt->streams[m_nStream];
    m_dec = avcodec_alloc_context3(codec);
    if (m_dec == nullptr) {
        return Fail(AVERROR(ENOMEM), "cannot allocate the decoder");
    }
    r = avcodec_parameters_to_context(m_dec, st->codecpar);
    if (r >= 0) {
        m_dec->pkt_timebase = st->time_base;
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
    m_firstPacket = ReadFirstPacket(m_fmt, m_nStream);
    m_rtOrigin = OriginOf(m_fmt);
    m_nLead = LeadOf(st, m_firstPacket);
    for (AudioTrack& t : m_tracks) {
        if (t.streamIndex == m_nStream) {
            t.lead = LeadTime(m_nLead, st->codecpar->sample_rate);
        }
    }
    m_timeline = TimelineOf(path, m_fmt, m_nStream, m_interrupt);
    m_nSegment = 0;
    m_nExpectedPts = AV_NOPTS_VALUE;
    m_rtDuration = m_timeline.HasRestarts() ? m_timeline.Duration() : DurationOf(m_fmt);
    return 0;
}

int FfmpegAudioSource::PrepareAudioSample(AudioFormat& format, SampleFormat sampleFormat) {
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
    const LibavSamples::Output chosen =
        LibavSamples::Choose(in, m_dec->bits_per_raw_sample, sampleFormat);
    const auto out = static_cast<AVSampleFormat>(chosen.format);
    const int bits = chosen.bits;
    const uint16_t tag = chosen.ieeeFloat ? AudioFormat::kIeeeFloat : AudioFormat::kPcm;
    m_outSampleFormat = out;
    m_packing = in == out && bits != 24 ? Packing::Copy : Packing::Swr;
    m_bCountClips = tag == AudioFormat::kPcm && LibavSamples::IsFloatFormat(in);
    m_nClipped = 0;

    AVChannelLayout layout{};
    if (m_dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        // Unnamed channels get the usual positions for their count, as FFmpeg's own
        // conversions guess them.
        av_channel_layout_default(&layout, channels);
    } else {
        av_channel_layout_copy(&layout, &m_dec->ch_layout);
    }
    const AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;

    m_format = AudioFormat{};
    m_format.wFormatTag = tag;
    m_format.nChannels = static_cast<uint16_t>(channels);
    m_format.nSamplesPerSec = static_cast<uint32_t>(m_dec->sample_rate);
    m_format.wBitsPerSample = static_cast<uint16_t>(bits);
    m_format.nBlockAlign = static_cast<uint16_t>(channels * (bits / 8));
    m_format.nAvgBytesPerSec = m_format.nSamplesPerSec * m_format.nBlockAlign;
    m_format.cbSize = 0;
    m_format.channelMask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    m_format.plainLayout = layout.order != AV_CHANNEL_ORDER_NATIVE ||
                           av_channel_layout_compare(&layout, &mono) == 0 ||
                           av_channel_layout_compare(&layout, &stereo) == 0;
    av_channel_layout_uninit(&layout);
    format = m_format;
    m_pending.reserve(1 << 16);
    // Without a seek the sound still starts at time 0, past the codec's lead.
    if (m_nLead > 0) {
        TrimTo(0);
    }
    return 0;
}

void FfmpegAudioSource::TrimTo(int64_t rt) {
    m_nTargetSample =
        av_rescale_q(m_rtOrigin + rt, kMediaTimeBase, AVRational{1, m_dec->sample_rate}) + m_nLead;
    m_bTrimming = true;
    m_bHaveRel = false;
}

int FfmpegAudioSource::Seek(int64_t rtStart) {
    if (m_fmt == nullptr || m_dec == nullptr || (rtStart <= 0 && m_nLead == 0)) {
        return 0;
    }
    rtStart = std::max<int64_t>(rtStart, 0);
    TrimTo(rtStart);
    const int64_t lead = av_rescale(m_nLead, MediaTime::kUnitsPerSecond, m_dec->sample_rate);
    if (rtStart + lead <= kSeekPreroll) {
        // Close to the start: decoding from here is the warm-up.
        return 0;
    }
    int r = 0;
    if (m_timeline.HasRestarts()) {
        // The same timestamps may recur in later segments: the segment is found by its
        // place in the file.
        const int64_t pos = m_timeline.Locate(rtStart + lead - kSeekPreroll).bytePos;
        r = av_seek_frame(m_fmt, -1, pos, AVSEEK_FLAG_BYTE);
        m_nSegment = m_timeline.SegmentAt(pos);
        m_nExpectedPts = AV_NOPTS_VALUE;
    } else {
        const AVStream* st = m_fmt->streams[m_nStream];
        const int64_t seekPts =
            av_rescale_q(m_rtOrigin + rtStart + lead - kSeekPreroll, kMediaTimeBase, st->time_base);
        r = avformat_seek_file(m_fmt, m_nStream, INT64_MIN, seekPts, seekPts, 0);
    }
    if (r < 0) {
        // Not seekable (a pipe): decode from the start and drop what lies before the target.
        return r;
    }
    av_packet_free(&m_firstPacket);
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
        if (m_firstPacket != nullptr) {
            avcodec_send_packet(m_dec, m_firstPacket);
            av_packet_free(&m_firstPacket);
            continue;
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
            if (m_timeline.HasRestarts()) {
                MakeContinuous(m_pkt);
            }
            // A packet the decoder rejects is skipped.
            avcodec_send_packet(m_dec, m_pkt);
        }
        av_packet_unref(m_pkt);
    }
}

void FfmpegAudioSource::MakeContinuous(AVPacket* pkt) {
    int segment = m_nSegment;
    const int count = static_cast<int>(m_timeline.Segments().size());
    if (pkt->pos >= 0) {
        segment = m_timeline.SegmentAt(pkt->pos);
    } else if (m_nExpectedPts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE &&
               segment + 1 < count &&
               MediaTimeline::IsRestart(m_nExpectedPts, pkt->pts, m_timeline.TimeBaseNum(),
                                        m_timeline.TimeBaseDen())) {
        ++segment;  // a frame split off a packet: where it lies shows in its time alone
    }
    if (pkt->pts != AV_NOPTS_VALUE) {
        m_nExpectedPts = pkt->pts + pkt->duration;
    }
    m_nSegment = segment;
    const int64_t offset = m_timeline.Offset(segment);
    if (pkt->pts != AV_NOPTS_VALUE) {
        pkt->pts += offset;
    }
    if (pkt->dts != AV_NOPTS_VALUE) {
        pkt->dts += offset;
    }
}

void FfmpegAudioSource::CountClipped(const AVFrame* f) {
    m_nClipped += LibavSamples::ClippedIn(f, m_format.wBitsPerSample);
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
    if (m_bCountClips) {
        CountClipped(f);
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
    const uint8_t* src = nullptr;
    int keep = 0;
    if (m_format.wBitsPerSample == 24 && f->format == AV_SAMPLE_FMT_S32 &&
        f->ch_layout.nb_channels == m_format.nChannels) {
        // Already interleaved 32-bit: packed straight from the frame.
        src = f->extended_data[0] + skip * 4 * m_format.nChannels;
        keep = samples;
    } else {
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
        src = m_scratch.data() + skip * outBlock;
        keep = got - static_cast<int>(skip);
        if (m_format.wBitsPerSample != 24) {
            m_pending.insert(m_pending.end(), src, src + static_cast<size_t>(keep) * outBlock);
            return true;
        }
    }
    // 24-bit samples are the top three bytes of 32-bit ones.
    const size_t n = static_cast<size_t>(keep) * m_format.nChannels;
    m_pending.resize(base + n * 3);
    uint8_t* p = m_pending.data() + base;
    for (size_t i = 0; i < n; ++i, p += 3, src += 4) {
        p[0] = src[1];
        p[1] = src[2];
        p[2] = src[3];
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
    av_packet_free(&m_firstPacket);
    avcodec_free_context(&m_dec);
    avformat_close_input(&m_fmt);
    m_nStream = -1;
    m_rtDuration = 0;
    m_rtOrigin = 0;
    m_nLead = 0;
    m_timeline = MediaTimeline();
    m_nSegment = 0;
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
    const int r = LibavFile::ProbeDuration(path, duration, m_interrupt);
    if (r < 0) {
        m_strError = "cannot open the file: " + LibavFile::ErrorText(r);
        return false;
    }
    return true;
}

bool FfmpegAudioSource::ProbeMedia(const std::string& path, MediaInfo& info) {
    const int r = LibavFile::Probe(path, info, m_interrupt);
    if (r < 0) {
        m_strError = "cannot open the file: " + LibavFile::ErrorText(r);
        return false;
    }
    return true;
}
