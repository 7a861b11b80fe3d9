#include "FfmpegAudioSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LibavFile.h"
#include "LibavLimits.h"
#include "MediaTime.h"
#include "MpegAudioFrame.h"
#include "StreamLead.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using LibavFile::DurationOf;
using LibavFile::ErrorText;
using LibavFile::kMediaTimeBase;
using LibavFile::LeadTime;
using LibavFile::ListTracks;
using LibavFile::OpenInput;
using LibavFile::OriginOf;
using LibavFile::TimelineOf;

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
    // Either decodes every layer, whatever the probe called the stream.
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
    m_codec = codec;
    if ((r = OpenDecoder()) < 0) {
        return Fail(r, std::string("cannot open the ") + codec->name + " decoder");
    }
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (m_pkt == nullptr || m_frame == nullptr) {
        return Fail(AVERROR(ENOMEM), "out of memory");
    }
    m_rtOrigin = OriginOf(m_fmt);
    DecideLead();
    m_timeline = m_reused ? *m_reused : TimelineOf(path, m_fmt, m_nStream, m_interrupt);
    m_stamps = ContinuousStamps(m_timeline);
    m_rtDuration = m_timeline.HasRestarts() ? m_timeline.Duration() : DurationOf(m_fmt);
    return 0;
}

void FfmpegAudioSource::DecideLead() {
    StreamLead lead(m_fmt, m_nStream);
    for (int reads = 0; lead.WantsMore() && reads < 4096; ++reads) {
        AVPacket* pkt = av_packet_alloc();
        if (pkt == nullptr || av_read_frame(m_fmt, pkt) < 0) {
            av_packet_free(&pkt);
            break;
        }
        if (pkt->stream_index != m_nStream) {
            av_packet_free(&pkt);
            continue;
        }
        lead.Add(pkt);
        m_queued.push_back(pkt);
    }
    const StreamLead::Decision decision = lead.Decide();
    m_nLead = decision.shift;
    m_nSoundEndSample = decision.endSample;
    if (decision.dropFirstPacket && !m_queued.empty()) {
        m_nInfoPts = decision.firstPts;
        av_packet_free(&m_queued.front());
        m_queued.pop_front();
    }
    for (AudioTrack& t : m_tracks) {
        if (t.streamIndex == m_nStream) {
            LibavFile::ApplyLead(t, decision);
        }
    }
}

int FfmpegAudioSource::PrepareAudioSample(AudioFormat& format, SampleFormat sampleFormat) {
    if (m_dec == nullptr) {
        m_strError = "no audio stream is open";
        return AVERROR(EINVAL);
    }
    m_strError = m_packer.Configure(m_dec, sampleFormat);
    if (!m_strError.empty()) {
        return AVERROR_INVALIDDATA;
    }
    format = m_packer.Format();
    m_pending.reserve(1 << 16);
    m_nEndSample = m_timeline.HasRestarts() ? INT64_MAX : m_nSoundEndSample;
    // Without a seek the sound still starts at time 0, past the codec's lead.
    if (m_nLead > 0) {
        m_nTargetSample = SampleAt(0);
        m_bTrimming = true;
    }
    return 0;
}

int64_t FfmpegAudioSource::SampleAt(int64_t rt) const {
    return av_rescale_q(m_rtOrigin + rt, kMediaTimeBase, AVRational{1, m_dec->sample_rate}) +
           m_nLead;
}

int64_t FfmpegAudioSource::FrameAt(int64_t rt, uint32_t rate) const {
    return m_dec != nullptr ? SampleAt(rt) : AudioStreamSource::FrameAt(rt, rate);
}

bool FfmpegAudioSource::SetEnd(int64_t rtEnd) {
    if (m_dec == nullptr) {
        return false;
    }
    const int64_t end = SampleAt(std::max<int64_t>(rtEnd, 0));
    m_nEndSample = std::min(end, m_timeline.HasRestarts() ? INT64_MAX : m_nSoundEndSample);
    return true;
}

int FfmpegAudioSource::Seek(int64_t rtStart) {
    if (m_fmt == nullptr || m_dec == nullptr || (rtStart <= 0 && m_nLead == 0)) {
        return 0;
    }
    rtStart = std::max<int64_t>(rtStart, 0);
    m_nTargetSample = SampleAt(rtStart);
    m_bTrimming = true;
    const int64_t lead = LeadTime(m_nLead, m_dec->sample_rate);
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
        m_stamps.Restart(m_timeline.SegmentAt(pos));
    } else {
        const AVStream* st = m_fmt->streams[m_nStream];
        const int64_t seekPts =
            av_rescale_q(m_rtOrigin + rtStart + lead - kSeekPreroll, kMediaTimeBase, st->time_base);
        r = avformat_seek_file(m_fmt, m_nStream, INT64_MIN, seekPts, seekPts, 0);
        if (r < 0 && m_fmt->pb != nullptr && (m_fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0) {
            // libavformat's search can fail part way on some MPEG files (sparse timestamps
            // in silent stretches), and leave the file anywhere.
            r = LibavFile::SeekByBytes(m_fmt, m_nStream, m_pkt, seekPts);
        }
    }
    if (r < 0) {
        // Not seekable (a pipe): decode from the start and drop what lies before the target.
        return r;
    }
    Restart();
    return 0;
}

int FfmpegAudioSource::OpenDecoder() {
    const AVStream* st = m_fmt->streams[m_nStream];
    AVCodecContext* dec = avcodec_alloc_context3(m_codec);
    if (dec == nullptr) {
        return AVERROR(ENOMEM);
    }
    int r = avcodec_parameters_to_context(dec, st->codecpar);
    if (r >= 0) {
        dec->pkt_timebase = st->time_base;
        r = avcodec_open2(dec, m_codec, nullptr);
    }
    if (r < 0) {
        avcodec_free_context(&dec);
        return r;
    }
    // Replaced only once the new one is open, so that a failure keeps the old one.
    avcodec_free_context(&m_dec);
    m_dec = dec;
    m_bDecoderUsed = false;
    return 0;
}

void FfmpegAudioSource::Restart() {
    FreeQueued();
    // A flush keeps the state of decoders that draw from a random generator (AC-3's
    // dither, AAC's noise substitution): a new decoder makes a seek decode exactly as a
    // freshly opened file does, so every cut of the same marks holds the same samples.
    if (!m_bDecoderUsed || OpenDecoder() < 0) {
        avcodec_flush_buffers(m_dec);
    }
    m_pending.clear();
    m_nPendingPos = 0;
    m_nPendingFirst = kUnknownPlace;
    m_nPlace = kUnknownPlace;
    m_bPositioned = false;
    m_deviations.clear();
    m_bInputDone = false;
    m_bEnded = false;
    m_bPastEnd = false;
}

void FfmpegAudioSource::FreeQueued() {
    for (AVPacket*& pkt : m_queued) {
        av_packet_free(&pkt);
    }
    m_queued.clear();
}

long FfmpegAudioSource::FillAudioBuffer(uint8_t* buffer) {
    size_t count = 0;
    while (count < AUDIO_BUFFER_SIZE) {
        if (m_nPendingPos < m_pending.size()) {
            const size_t n = std::min(AUDIO_BUFFER_SIZE - count, m_pending.size() - m_nPendingPos);
            std::memcpy(buffer + count, m_pending.data() + m_nPendingPos, n);
            m_nPendingPos += n;
            count += n;
            m_nPlace = m_nPendingFirst == kUnknownPlace
                           ? kUnknownPlace
                           : m_nPendingFirst * m_packer.Format().nBlockAlign +
                                 static_cast<int64_t>(m_nPendingPos);
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
    while (!m_bPastEnd) {
        const int r = avcodec_receive_frame(m_dec, m_frame);
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
        if (!SendNextPacket()) {
            // The end of the file, or a read error that ends the stream: drain the decoder.
            m_bInputDone = true;
            avcodec_send_packet(m_dec, nullptr);
        }
    }
    return false;
}

bool FfmpegAudioSource::SendNextPacket() {
    for (;;) {
        AVPacket* pkt = m_pkt;
        if (!m_queued.empty()) {
            pkt = m_queued.front();
            m_queued.pop_front();
        } else if (const int r = av_read_frame(m_fmt, m_pkt); r < 0) {
            if (r == AVERROR_INVALIDDATA && ++m_nBadReads < LibavLimits::kMaxBadReadsInRow) {
                continue;
            }
            return false;
        }
        m_nBadReads = 0;
        const bool infoFrame =
            pkt->pts == m_nInfoPts && m_nInfoPts != AV_NOPTS_VALUE &&
            MpegAudioFrame::ReadInfo(pkt->data, static_cast<size_t>(pkt->size)).has_value();
        if (pkt->stream_index == m_nStream && !infoFrame) {
            m_stamps.Apply(pkt);
            // A packet the decoder rejects is skipped.
            m_bDecoderUsed = true;
            avcodec_send_packet(m_dec, pkt);
        }
        if (pkt == m_pkt) {
            av_packet_unref(pkt);
        } else {
            av_packet_free(&pkt);
        }
        return true;
    }
}

bool FfmpegAudioSource::TakeFrame() {
    const AVFrame* f = m_frame;
    const int64_t pts =
        f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    int64_t pos = m_nNextSample;
    if (pts != AV_NOPTS_VALUE) {
        const AVRational tb = m_fmt->streams[m_nStream]->time_base;
        const AVRational sampleTb{1, m_dec->sample_rate};
        const int64_t fromPts = av_rescale_q(pts, tb, sampleTb);
        // Containers that count in milliseconds round every frame's time, and some muxers
        // stamp a few ticks either way; near where the samples so far put it, counting is
        // the exact measure.
        const bool coarse = av_cmp_q(tb, sampleTb) > 0;
        const int64_t tick = av_rescale_q(1, tb, sampleTb) + 1;
        if (!m_bPositioned || std::llabs(fromPts - m_nNextSample) > (coarse ? 4 * tick : tick)) {
            pos = fromPts;
            m_deviations.clear();
        } else if (coarse) {
            m_deviations.push_back(fromPts - pos);
        }
    } else if (!m_bPositioned) {
        if (m_bTrimming || m_nEndSample != INT64_MAX) {
            return false;  // no time yet: cannot tell where the target lies
        }
        m_nPendingFirst = kUnknownPlace;
        return m_packer.Append(f, 0, f->nb_samples, m_pending);
    }
    m_bPositioned = true;
    int64_t first = 0;
    if (m_bTrimming) {
        if (pos + f->nb_samples <= m_nTargetSample) {
            m_nNextSample = pos + f->nb_samples;
            return false;
        }
        if (!m_deviations.empty()) {
            // Rounded times place the first frame up to a tick off; the frames run in
            // before the target place the count by the middle of their roundings.
            std::nth_element(m_deviations.begin(), m_deviations.begin() + m_deviations.size() / 2,
                             m_deviations.end());
            pos += m_deviations[m_deviations.size() / 2];
            m_deviations.clear();
            if (pos + f->nb_samples <= m_nTargetSample) {
                m_nNextSample = pos + f->nb_samples;
                return false;
            }
        }
        first = std::max<int64_t>(m_nTargetSample - pos, 0);
        m_bTrimming = false;
    }
    m_nNextSample = pos + f->nb_samples;
    int64_t count = f->nb_samples - first;
    if (m_nEndSample != INT64_MAX) {
        const int64_t room = m_nEndSample - (pos + first);
        if (room <= count) {
            m_bPastEnd = true;
            count = room;
        }
    }
    m_nPendingFirst = pos + first;
    return count > 0 &&
           m_packer.Append(f, static_cast<int>(first), static_cast<int>(count), m_pending);
}

bool FfmpegAudioSource::DecodesAlike() const {
    return m_dec != nullptr && LibavFile::DecodesAlike(m_dec->codec_id);
}

bool FfmpegAudioSource::HasSoundBetween(int64_t from, int64_t to) const {
    if (m_fmt == nullptr) {
        return false;
    }
    const AVStream* st = m_fmt->streams[m_nStream];
    int64_t start = 0;
    int64_t end = m_rtDuration;
    if (!m_timeline.HasRestarts() && st->start_time != AV_NOPTS_VALUE) {
        start = av_rescale_q(st->start_time, st->time_base, kMediaTimeBase) - m_rtOrigin;
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            end = start + av_rescale_q(st->duration, st->time_base, kMediaTimeBase);
        }
    }
    // Less than a few frames is no loss worth naming: containers round their durations.
    constexpr int64_t kMargin = MediaTime::kUnitsPerSecond / 10;
    return end > 0 && std::max(start, from) + kMargin < std::min(end, to);
}

void FfmpegAudioSource::Release() {
    FreeQueued();
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    avformat_close_input(&m_fmt);
    m_nStream = -1;
    m_rtDuration = 0;
    m_rtOrigin = 0;
    m_nLead = 0;
    m_nInfoPts = AV_NOPTS_VALUE;
    m_nSoundEndSample = INT64_MAX;
    m_timeline = MediaTimeline();
    m_stamps = ContinuousStamps();
    m_pending.clear();
    m_nPendingPos = 0;
    m_nPendingFirst = kUnknownPlace;
    m_nPlace = kUnknownPlace;
    m_bInputDone = false;
    m_bEnded = false;
    m_bPastEnd = false;
    m_bTrimming = false;
    m_bPositioned = false;
    m_nEndSample = INT64_MAX;
    m_nBadReads = 0;
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
    return ProbeMediaInSteps(path, info, {});
}

bool FfmpegAudioSource::ProbeMediaInSteps(const std::string& path, MediaInfo& info,
                                          const EarlyInfo& early) {
    const int r = LibavFile::Probe(path, info, m_interrupt, early);
    if (r < 0) {
        m_strError = "cannot open the file: " + LibavFile::ErrorText(r);
        return false;
    }
    return true;
}
