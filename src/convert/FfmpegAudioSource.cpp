#include "FfmpegAudioSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LibavLimits.h"
#include "MediaTime.h"
#include "TimelineScanner.h"

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
    if (code == AudioStreamSource::kNotRegularFile) {
        return "not a regular file (a named pipe, a device or a folder)";
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// What libavformat opens for a path: standard input for "-", else the file itself
// through the file protocol, so that a name such as "pipe:1" or "http:x" is a file
// name too. Anything but a regular file is refused before it is opened: a named pipe
// without a writer would block the open for good.
int InputUrl(const std::string& path, std::string& url) {
    if (path == AudioStreamSource::kStandardInput) {
        url = "pipe:0";
        return 0;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return AVERROR(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return AudioStreamSource::kNotRegularFile;
    }
    url = "file:" + path;
    return 0;
}

// Opens a file and reads its stream parameters, within what a hostile file may cost and
// until the guard's flag cancels it. Quiet: libav's log stays at errors only.
int OpenInput(const std::string& path, AVFormatContext** fmt, LibavLimits::ReadGuard& guard) {
    std::string url;
    const int r = InputUrl(path, url);
    if (r < 0) {
        return r;
    }
    return LibavLimits::OpenInput(url, fmt, guard);
}

// Where media time 0 lies in stream time: the start of the file. A negative start is
// the encoder's priming, which the decoder drops: the sound starts at 0. In MPEG program
// and transport streams it is a recording that crosses the wrap of the 33-bit clock,
// which libavformat counts on from below 0: there the file does start below 0.
int64_t OriginOf(const AVFormatContext* fmt) {
    const bool wraps = (fmt->iformat->flags & AVFMT_TS_DISCONT) != 0;
    if (fmt->start_time == AV_NOPTS_VALUE || (fmt->start_time < 0 && !wraps)) {
        return 0;
    }
    return av_rescale_q(fmt->start_time, AV_TIME_BASE_Q, kMediaTimeBase);
}

// The timeline of a stream of a file opened from path: the identity for standard input.
MediaTimeline TimelineOf(const std::string& path, const AVFormatContext* fmt, int stream,
                         const std::atomic<bool>* cancel) {
    if (path == AudioStreamSource::kStandardInput || stream < 0) {
        return MediaTimeline(1, 1, OriginOf(fmt));
    }
    return TimelineScanner(path, fmt, stream, OriginOf(fmt), cancel).Scan();
}

// Vorbis gives no sound for its first packet: the first output is the overlap of the
// first two short blocks, half a short block long, and carries the second's time.
int VorbisLead(const AVCodecParameters* par) {
    // The identification header: "\x01vorbis", then the blocksize exponents at byte 28.
    static constexpr uint8_t kId[] = {0x01, 'v', 'o', 'r', 'b', 'i', 's'};
    const uint8_t* data = par->extradata;
    const int size = par->extradata_size;
    for (int i = 0; data != nullptr && i + 29 <= size; ++i) {
        if (std::memcmp(data + i, kId, sizeof kId) == 0) {
            const int shortBlock = 1 << (data[i + 28] & 0x0F);
            return shortBlock / 2;
        }
    }
    return 0;
}

// The samples by which a codec's decoded sound lags the times of its frames: the delay
// of its encoder and decoder filter banks together, which a file records only in some
// containers (MP4 edit lists, MP3 encoder tags, Opus and Ogg headers).
int CodecLead(const AVCodecParameters* par) {
    switch (par->codec_id) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
            return 481;  // the polyphase analysis and synthesis filters, 512 - 32 + 1
        case AV_CODEC_ID_MP3:
            return 1105;  // the usual encoder's 576 and the decoder's 529
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
            return 256;  // one transform block
        case AV_CODEC_ID_AAC:
            return par->profile == FF_PROFILE_AAC_LOW ? 1024 : 0;
        case AV_CODEC_ID_VORBIS:
            return VorbisLead(par);
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2: {
            // One frame, whose length follows from the sample rate.
            const int rate = par->sample_rate;
            const bool v1 = par->codec_id == AV_CODEC_ID_WMAV1;
            if (rate <= 16000) {
                return 512;
            }
            return rate <= 22050 || (v1 && rate <= 32000) ? 1024 : 2048;
        }
        default:
            return 0;
    }
}

// The lead to take off for this file: none when the file records the delay itself,
// as padding in the stream's parameters, as samples to skip in its first packet, or
// by starting the stream's first packet before the stream's start.
int LeadOf(const AVStream* st, const AVPacket* first) {
    if (st->codecpar->initial_padding > 0) {
        return 0;
    }
    if (first != nullptr && av_packet_get_side_data(first, AV_PKT_DATA_SKIP_SAMPLES, nullptr)) {
        return 0;
    }
    if (first != nullptr && first->pts != AV_NOPTS_VALUE && st->start_time != AV_NOPTS_VALUE &&
        first->pts < st->start_time) {
        return 0;
    }
    return CodecLead(st->codecpar);
}

int64_t LeadTime(int lead, int rate) {
    return rate > 0 ? av_rescale(lead, MediaTime::kUnitsPerSecond, rate) : 0;
}

// Reads up to the first packet of the stream; the other streams are discarded.
AVPacket* ReadFirstPacket(AVFormatContext* fmt, int stream) {
    AVPacket* pkt = av_packet_alloc();
    if (pkt == nullptr) {
        return nullptr;
    }
    for (int tries = 0; tries < 256; ++tries) {
        if (av_read_frame(fmt, pkt) < 0) {
            break;
        }
        if (pkt->stream_index == stream) {
            return pkt;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return nullptr;
}

// The container's duration. It counts from the file's start, as the preview does.
int64_t DurationOf(const AVFormatContext* fmt) {
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0) {
        return 0;
    }
    return av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kMediaTimeBase);
}

std::string LayoutText(const AVChannelLayout& layout) {
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        return std::to_string(layout.nb_channels) +
               (layout.nb_channels == 1 ? " channel" : " channels");
    }
    char text[128] = {};
    av_channel_layout_describe(&layout, text, sizeof text);
    return text;
}

std::optional<std::string> Tag(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
    if (entry == nullptr || entry->value == nullptr || entry->value[0] == '\0') {
        return std::nullopt;
    }
    // "und" is the containers' way of saying that no language is known.
    if (std::strcmp(key, "language") == 0 && std::strcmp(entry->value, "und") == 0) {
        return std::nullopt;
    }
    return std::string(entry->value);
}

std::vector<AudioTrack> ListTracks(const AVFormatContext* fmt, int primary) {
    std::vector<AudioTrack> tracks;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            continue;
        }
        AudioTrack track;
        track.number = static_cast<int>(tracks.size()) + 1;
        track.streamIndex = static_cast<int>(i);
        track.codec = avcodec_get_name(par->codec_id);
        track.sampleRate = par->sample_rate;
        track.channels = par->ch_layout.nb_channels;
        track.channelLayout = LayoutText(par->ch_layout);
        track.language = Tag(st->metadata, "language");
        track.title = Tag(st->metadata, "title");
        track.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
        track.primary = static_cast<int>(i) == primary;
        tracks.push_back(std::move(track));
    }
    return tracks;
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

// How many of n samples land outside the integer range when scaled by 2^(bits-1) and
// rounded to nearest, as the converter rounds them.
template <typename T>
int64_t ClippedIn(const T* p, size_t n, double lowest, double highest) {
    int64_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(p[i]);
        count += (x >= highest || x < lowest) ? 1 : 0;
    }
    return count;
}

}  // namespace

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
    int bits = 16;
    AVSampleFormat out = AV_SAMPLE_FMT_S16;
    uint16_t tag = AudioFormat::kPcm;
    switch (sampleFormat) {
        case SampleFormat::S16:
            break;
        case SampleFormat::S24:
            out = AV_SAMPLE_FMT_S32;  // packed to three bytes on the way out
            bits = 24;
            break;
        case SampleFormat::S32:
            out = AV_SAMPLE_FMT_S32;
            bits = 32;
            break;
        case SampleFormat::F32:
            out = AV_SAMPLE_FMT_FLT;
            bits = 32;
            tag = AudioFormat::kIeeeFloat;
            break;
        case SampleFormat::Auto:
            switch (av_get_packed_sample_fmt(in)) {
                case AV_SAMPLE_FMT_U8:
                    bits = 8;
                    out = AV_SAMPLE_FMT_U8;
                    break;
                case AV_SAMPLE_FMT_S32:
                case AV_SAMPLE_FMT_S64:
                    out = AV_SAMPLE_FMT_S32;
                    bits = (m_dec->bits_per_raw_sample > 16 && m_dec->bits_per_raw_sample <= 24)
                               ? 24
                               : 32;
                    break;
                default:  // S16 stays; float and double decoders give 16-bit
                    break;
            }
            break;
    }
    m_outSampleFormat = out;
    m_packing = in == out && bits != 24 ? Packing::Copy : Packing::Swr;
    m_bCountClips = tag == AudioFormat::kPcm && IsFloatFormat(in);
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
    const auto format = static_cast<AVSampleFormat>(f->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? f->ch_layout.nb_channels : 1;
    const size_t perPlane =
        static_cast<size_t>(f->nb_samples) * (planar ? 1 : f->ch_layout.nb_channels);
    // Rounded to nearest-even after scaling: a half step past the top rounds up and out.
    const double scale = m_format.wBitsPerSample == 16 ? 32768.0 : 2147483648.0;
    const double highest = (scale - 0.5) / scale;
    const double lowest = (-scale - 0.5) / scale;
    const bool isDouble = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_DBL;
    for (int p = 0; p < planes; ++p) {
        if (isDouble) {
            m_nClipped += ClippedIn(reinterpret_cast<const double*>(f->extended_data[p]), perPlane,
                                    lowest, highest);
        } else if (m_format.wBitsPerSample == 16) {
            m_nClipped += ClippedIn(reinterpret_cast<const float*>(f->extended_data[p]), perPlane,
                                    lowest, highest);
        } else {
            // A float scaled by 2^31 has no half steps there: 1.0 and above clip.
            m_nClipped +=
                ClippedIn(reinterpret_cast<const float*>(f->extended_data[p]), perPlane, -1.0, 1.0);
        }
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
    AVFormatContext* fmt = nullptr;
    LibavLimits::ReadGuard guard{m_interrupt};
    const int r = OpenInput(path, &fmt, guard);
    if (r < 0) {
        m_strError = "cannot open the file: " + ErrorText(r);
        return false;
    }
    const MediaTimeline timeline = TimelineOf(
        path, fmt, av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0), m_interrupt);
    duration = timeline.HasRestarts() ? timeline.Duration() : DurationOf(fmt);
    avformat_close_input(&fmt);
    return true;
}

bool FfmpegAudioSource::ProbeMedia(const std::string& path, MediaInfo& info) {
    info = MediaInfo{};
    AVFormatContext* fmt = nullptr;
    LibavLimits::ReadGuard guard{m_interrupt};
    const int r = OpenInput(path, &fmt, guard);
    if (r < 0) {
        m_strError = "cannot open the file: " + ErrorText(r);
        return false;
    }
    const int primary = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    info.tracks = ListTracks(fmt, primary);
    // Scanned before any packet is read here: the scan opens the file anew.
    info.timeline = TimelineOf(path, fmt, primary, m_interrupt);
    info.duration = info.timeline.HasRestarts() ? info.timeline.Duration() : DurationOf(fmt);
    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0 && (fmt->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
        AVRational rate = fmt->streams[video]->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) {
            rate = fmt->streams[video]->r_frame_rate;
        }
        if (rate.num > 0 && rate.den > 0) {
            info.frameDuration = av_rescale(MediaTime::kUnitsPerSecond, rate.den, rate.num);
        }
    }
    // Each track's lead needs its first packet: read until every audio track has shown one.
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        fmt->streams[i]->discard = fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
                                       ? AVDISCARD_DEFAULT
                                       : AVDISCARD_ALL;
    }
    std::vector<bool> seen(fmt->nb_streams, false);
    size_t missing = info.tracks.size();
    AVPacket* pkt = av_packet_alloc();
    for (int reads = 0; pkt != nullptr && missing > 0 && reads < 4096; ++reads) {
        if (av_read_frame(fmt, pkt) < 0) {
            break;
        }
        const int index = pkt->stream_index;
        if (index >= 0 && index < static_cast<int>(seen.size()) && !seen[index]) {
            seen[index] = true;
            --missing;
            for (AudioTrack& t : info.tracks) {
                if (t.streamIndex == index) {
                    const AVStream* st = fmt->streams[index];
                    t.lead = LeadTime(LeadOf(st, pkt), st->codecpar->sample_rate);
                }
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return true;
}
