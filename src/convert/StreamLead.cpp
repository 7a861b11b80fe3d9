#include "StreamLead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "LibavFile.h"
#include "MediaTime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/vorbis_parser.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

namespace {

// How near two starts must lie to count as one: a millisecond, the finest step of the
// containers that count time in milliseconds.
constexpr int64_t kSameStart = MediaTime::kUnitsPerSecond / 1000;

// Vorbis gives no sound for its first packet: the first output is the overlap of the
// first two short blocks, half a short block long.
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

}  // namespace

StreamLead::StreamLead(const AVFormatContext* fmt, int stream) : m_fmt(fmt), m_stream(stream) {
    const AVCodecParameters* par = fmt->streams[stream]->codecpar;
    m_matroska = std::strstr(fmt->iformat->name, "matroska") != nullptr;
    m_vorbis = par->codec_id == AV_CODEC_ID_VORBIS;
    if (m_vorbis && m_matroska) {
        m_vorbisParser = av_vorbis_parse_init(par->extradata, par->extradata_size);
    }
}

StreamLead::~StreamLead() {
    av_vorbis_parse_free(&m_vorbisParser);
}

bool StreamLead::WantsMore() const {
    return m_packets == 0 || (m_vorbisParser != nullptr && m_packets < kMaxPackets);
}

void StreamLead::Add(const AVPacket* pkt) {
    const AVStream* st = m_fmt->streams[m_stream];
    if (m_packets++ == 0) {
        m_firstPts = pkt->pts;
        size_t size = 0;
        if (const uint8_t* skip = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
            skip != nullptr && size >= 4) {
            m_skipSamples = static_cast<int>(AV_RL32(skip));
        }
        switch (st->codecpar->codec_id) {
            case AV_CODEC_ID_MP1:
            case AV_CODEC_ID_MP2:
            case AV_CODEC_ID_MP3:
                m_mpegFrame = MpegAudioFrame::Parse(pkt->data, static_cast<size_t>(pkt->size));
                m_info = MpegAudioFrame::ReadInfo(pkt->data, static_cast<size_t>(pkt->size));
                break;
            default:
                break;
        }
    }
    if (m_vorbisParser != nullptr && pkt->pts != AV_NOPTS_VALUE && pkt->size > 0) {
        const int samples = av_vorbis_parse_frame(m_vorbisParser, pkt->data, pkt->size);
        const int rate = st->codecpar->sample_rate;
        if (samples >= 0 && rate > 0) {
            m_stamps.push_back(
                {av_rescale_q(pkt->pts, st->time_base, AVRational{1, rate}), samples});
        }
    }
}

// The samples by which a codec's decoded sound lags the times of its frames: the delay
// of its encoder and decoder filter banks together.
int StreamLead::CodecLead() const {
    const AVCodecParameters* par = m_fmt->streams[m_stream]->codecpar;
    if (m_mpegFrame) {
        return m_mpegFrame->CodecLead();
    }
    switch (par->codec_id) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
            return 481;
        case AV_CODEC_ID_MP3:
            return MpegAudioFrame::kDecoderDelay + MpegAudioFrame::kUsualEncoderDelay;
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

// Where the first picture lies in media time; nullopt for sound alone. A cover picture
// is not a picture that plays.
std::optional<int64_t> StreamLead::PictureStart() const {
    std::optional<int64_t> start;
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i) {
        const AVStream* st = m_fmt->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 ||
            st->start_time == AV_NOPTS_VALUE) {
            continue;
        }
        const int64_t rt = av_rescale_q(st->start_time, st->time_base, LibavFile::kMediaTimeBase);
        start = start ? std::min(*start, rt) : rt;
    }
    return start;
}

// Muxers stamp Vorbis packets by different conventions: FFmpeg's Ogg reader and
// GStreamer with the start of each packet's sound, mkvmerge and FFmpeg's own Matroska
// writer a quarter or a half of a short block later. Packet k's sound starts where the
// sound of the packets before it ends (the first packet gives none), so each packet's
// timestamp less that place is the convention's offset; the median rides out
// timestamps rounded to milliseconds and the first lace, whose times FFmpeg fills in.
StreamLead::Decision StreamLead::DecideVorbisStamps() const {
    Decision d;
    std::vector<int64_t> offsets;
    int64_t sound = 0;
    for (size_t k = 1; k < m_stamps.size(); ++k) {
        offsets.push_back(m_stamps[k].pts - m_stamps[0].pts - sound);
        sound += m_stamps[k].samples;
    }
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    const int64_t offset = offsets[offsets.size() / 2];
    const int rate = m_fmt->streams[m_stream]->codecpar->sample_rate;
    d.shift = static_cast<int>(std::clamp<int64_t>(offset, -rate, rate));
    d.samples = d.shift;
    d.rule = std::llabs(d.shift) * 1000 <= rate ? LeadRule::Carried : LeadRule::TakenOff;
    return d;
}

StreamLead::Decision StreamLead::Decide() const {
    const AVStream* st = m_fmt->streams[m_stream];
    const AVCodecParameters* par = st->codecpar;
    const int rate = par->sample_rate;
    Decision d;
    d.firstPts = m_firstPts;
    d.samples = CodecLead();
    if (m_mpegFrame) {
        static constexpr const char* kNames[] = {"mp1", "mp2", "mp3"};
        d.codecName = kNames[m_mpegFrame->layer - 1];
    }
    if (m_info) {
        // The info frame takes the time of one frame, then the encoder's delay and the
        // decoder's follow; its padding says where the sound ends.
        const int delay = m_info->delay >= 0 ? m_info->delay : MpegAudioFrame::kUsualEncoderDelay;
        d.rule = LeadRule::Recorded;
        d.dropFirstPacket = true;
        d.samples = delay + MpegAudioFrame::kDecoderDelay;
        d.shift = m_mpegFrame->samples + d.samples;
        if (m_info->frames > 0 && m_info->padding >= 0 && m_firstPts != AV_NOPTS_VALUE &&
            rate > 0) {
            const int64_t first = av_rescale_q(m_firstPts, st->time_base, AVRational{1, rate});
            d.endSample = first + m_mpegFrame->samples + m_info->frames * m_mpegFrame->samples -
                          m_info->padding + MpegAudioFrame::kDecoderDelay;
        }
        return d;
    }
    // Delays the file records, which libavformat and the decoder take off themselves.
    if (par->initial_padding > 0 || m_skipSamples > 0) {
        d.rule = LeadRule::Recorded;
        d.samples = m_skipSamples > 0 ? m_skipSamples : par->initial_padding;
        return d;
    }
    if (m_firstPts != AV_NOPTS_VALUE && st->start_time != AV_NOPTS_VALUE &&
        m_firstPts < st->start_time) {
        d.rule = LeadRule::Recorded;
        d.samples = rate > 0 ? static_cast<int>(av_rescale_q(st->start_time - m_firstPts,
                                                             st->time_base, AVRational{1, rate}))
                             : 0;
        return d;
    }
    if (m_vorbisParser != nullptr && m_stamps.size() >= 2) {
        return DecideVorbisStamps();
    }
    if (d.samples == 0) {
        return d;
    }
    const std::optional<int64_t> picture = PictureStart();
    const int64_t soundStart = st->start_time != AV_NOPTS_VALUE ? st->start_time : m_firstPts;
    if (!picture || soundStart == AV_NOPTS_VALUE || rate <= 0) {
        d.rule = LeadRule::TakenOff;
        d.shift = d.samples;
        return d;
    }
    const int64_t gap =
        *picture - av_rescale_q(soundStart, st->time_base, LibavFile::kMediaTimeBase);
    const int64_t lead = av_rescale(d.samples, MediaTime::kUnitsPerSecond, rate);
    if (std::llabs(gap - lead) <= kSameStart) {
        d.rule = LeadRule::Carried;
    } else if (std::llabs(gap) <= kSameStart) {
        d.rule = LeadRule::TakenOff;
        d.shift = d.samples;
    } else {
        d.rule = LeadRule::Followed;
    }
    return d;
}
