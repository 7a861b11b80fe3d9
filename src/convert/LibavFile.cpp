#include "LibavFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "AudioStreamSource.h"
#include "StreamLead.h"
#include "TimelineScanner.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace LibavFile {

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
static int InputUrl(const std::string& path, std::string& url) {
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

int64_t LeadTime(int lead, int rate) {
    return rate > 0 ? av_rescale(lead, MediaTime::kUnitsPerSecond, rate) : 0;
}

void ApplyLead(AudioTrack& track, const StreamLead::Decision& lead) {
    track.lead = LeadTime(lead.shift, track.sampleRate);
    track.leadRule = lead.rule;
    track.leadSamples = lead.samples;
    if (!lead.codecName.empty()) {
        track.codec = lead.codecName;
    }
}

// The container's duration. It counts from the file's start, as the preview does.
int64_t DurationOf(const AVFormatContext* fmt) {
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0) {
        return 0;
    }
    return av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kMediaTimeBase);
}

static std::string LayoutText(const AVChannelLayout& layout) {
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        return std::to_string(layout.nb_channels) +
               (layout.nb_channels == 1 ? " channel" : " channels");
    }
    char text[128] = {};
    av_channel_layout_describe(&layout, text, sizeof text);
    return text;
}

static std::optional<std::string> Tag(const AVDictionary* metadata, const char* key) {
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

std::vector<Segment> ChaptersOf(const AVFormatContext* fmt) {
    std::vector<Segment> chapters;
    const int64_t origin = OriginOf(fmt);
    for (unsigned i = 0; i < fmt->nb_chapters; ++i) {
        const AVChapter* c = fmt->chapters[i];
        Segment chapter;
        chapter.start =
            std::max<int64_t>(av_rescale_q(c->start, c->time_base, kMediaTimeBase) - origin, 0);
        chapter.end = av_rescale_q(c->end, c->time_base, kMediaTimeBase) - origin;
        chapter.name = Tag(c->metadata, "title").value_or("");
        if (chapter.end > chapter.start) {
            chapters.push_back(chapter);
        }
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const Segment& a, const Segment& b) { return a.start < b.start; });
    return chapters;
}

namespace {

// A bisection of the file's bytes stops when the span is this small.
constexpr int64_t kByteSearchStep = 64 * 1024;

int64_t FirstPtsFrom(AVFormatContext* fmt, int stream, AVPacket* pkt, int64_t bytePos) {
    if (av_seek_frame(fmt, -1, bytePos, AVSEEK_FLAG_BYTE) < 0) {
        return AV_NOPTS_VALUE;
    }
    int64_t pts = AV_NOPTS_VALUE;
    for (int reads = 0; reads < 64 && pts == AV_NOPTS_VALUE; ++reads) {
        if (av_read_frame(fmt, pkt) < 0) {
            break;
        }
        if (pkt->stream_index == stream) {
            pts = pkt->pts;
        }
        av_packet_unref(pkt);
    }
    return pts;
}

}  // namespace

int SeekByBytes(AVFormatContext* fmt, int stream, AVPacket* pkt, int64_t pts) {
    const int64_t size = avio_size(fmt->pb);
    int64_t low = 0;
    int64_t high = size;
    while (high - low > kByteSearchStep) {
        const int64_t middle = low + (high - low) / 2;
        const int64_t found = FirstPtsFrom(fmt, stream, pkt, middle);
        if (found != AV_NOPTS_VALUE && found <= pts) {
            low = middle;
        } else {
            high = middle;
        }
    }
    // From the start of the file at worst: the target is then reached by decoding.
    return av_seek_frame(fmt, -1, low, AVSEEK_FLAG_BYTE);
}

int ProbeDuration(const std::string& path, int64_t& duration, const std::atomic<bool>* cancel) {
    AVFormatContext* fmt = nullptr;
    LibavLimits::ReadGuard guard{cancel};
    const int r = OpenInput(path, &fmt, guard);
    if (r < 0) {
        return r;
    }
    const MediaTimeline timeline = TimelineOf(
        path, fmt, av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0), cancel);
    duration = timeline.HasRestarts() ? timeline.Duration() : DurationOf(fmt);
    avformat_close_input(&fmt);
    return 0;
}

int Probe(const std::string& path, MediaInfo& info, const std::atomic<bool>* cancel,
          const std::function<void(const MediaInfo&)>& early) {
    info = MediaInfo{};
    AVFormatContext* fmt = nullptr;
    LibavLimits::ReadGuard guard{cancel};
    const int r = OpenInput(path, &fmt, guard);
    if (r < 0) {
        return r;
    }
    const int primary = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    info.tracks = ListTracks(fmt, primary);
    // Set up before any packet is read here: the scan reads the file through handles of
    // its own, and only looks at how fmt describes the stream.
    TimelineScanner scanner(path, fmt, primary, OriginOf(fmt), cancel);
    const bool piped = path == AudioStreamSource::kStandardInput;
    info.timelinePending = early && !piped && scanner.Scans();
    if (piped) {
        info.timeline = TimelineOf(path, fmt, primary, cancel);
    } else {
        // A file of another container is not read: Scan gives the identity at once.
        info.timeline = info.timelinePending ? scanner.Identity() : scanner.Scan();
    }
    info.duration = info.timeline.HasRestarts() ? info.timeline.Duration() : DurationOf(fmt);
    info.chapters = ChaptersOf(fmt);
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
    // Each track's lead is decided from its first packets: read until every audio track
    // has shown enough.
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        fmt->streams[i]->discard = fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
                                       ? AVDISCARD_DEFAULT
                                       : AVDISCARD_ALL;
    }
    std::vector<std::unique_ptr<StreamLead>> leads(fmt->nb_streams);
    for (const AudioTrack& t : info.tracks) {
        leads[t.streamIndex] = std::make_unique<StreamLead>(fmt, t.streamIndex);
    }
    const auto wanting = [&leads] {
        return std::any_of(leads.begin(), leads.end(),
                           [](const auto& lead) { return lead && lead->WantsMore(); });
    };
    AVPacket* pkt = av_packet_alloc();
    for (int reads = 0; pkt != nullptr && wanting() && reads < 4096; ++reads) {
        if (av_read_frame(fmt, pkt) < 0) {
            break;
        }
        const int index = pkt->stream_index;
        if (index >= 0 && index < static_cast<int>(leads.size()) && leads[index] &&
            leads[index]->WantsMore()) {
            leads[index]->Add(pkt);
        }
        av_packet_unref(pkt);
    }
    for (AudioTrack& t : info.tracks) {
        ApplyLead(t, leads[t.streamIndex]->Decide());
    }
    av_packet_free(&pkt);
    if (info.timelinePending) {
        early(info);
        info.timeline = scanner.Scan();
        if (info.timeline.HasRestarts()) {
            info.duration = info.timeline.Duration();
        }
        info.timelinePending = false;
    }
    avformat_close_input(&fmt);
    return 0;
}

bool DecodesAlike(int codecId) {
    // Left out: decoders that draw from a random generator (AC-3's dither, AAC's noise
    // substitution, Opus's folding, WMA's noise coding) or keep long feedback filters.
    switch (codecId) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_FLAC:
        case AV_CODEC_ID_VORBIS:
        case AV_CODEC_ID_ALAC:
        case AV_CODEC_ID_WAVPACK:
            return true;
        default: {
            // Plain PCM of any layout holds no state at all.
            const AVCodecDescriptor* d = avcodec_descriptor_get(static_cast<AVCodecID>(codecId));
            return d != nullptr && d->name != nullptr && std::strncmp(d->name, "pcm_", 4) == 0;
        }
    }
}

}  // namespace LibavFile
