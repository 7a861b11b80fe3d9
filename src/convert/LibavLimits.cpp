#include "LibavLimits.h"

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace {

// Demuxers that open other files or URLs named inside the file.
constexpr const char* kReferencingDemuxers[] = {"concat", "hls", "dash", "imf", "sdp"};

// Every demuxer of the library but the referencing ones, as FFmpeg's whitelist syntax.
const std::string& FormatWhitelist() {
    static const std::string list = [] {
        std::string names;
        void* it = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&it)) {
            bool referencing = false;
            for (const char* name : kReferencingDemuxers) {
                referencing = referencing || std::string(format->name) == name;
            }
            if (!referencing) {
                names += names.empty() ? "" : ",";
                names += format->name;
            }
        }
        return names;
    }();
    return list;
}

// Reading stops when it is cancelled, and while the file is being opened once the read
// budget is spent; the decoding that follows has no budget.
int StopReading(void* opaque) {
    const auto* guard = static_cast<const LibavLimits::ReadGuard*>(opaque);
    if (guard->cancel != nullptr && guard->cancel->load()) {
        return 1;
    }
    return guard->opening && guard->fmt != nullptr && guard->fmt->pb != nullptr &&
           guard->fmt->pb->bytes_read > LibavLimits::kMaxOpenBytes;
}

}  // namespace

void LibavLimits::Apply() {
    av_max_alloc(kMaxAllocation);
}

int LibavLimits::OpenInput(const std::string& url, AVFormatContext** fmt, ReadGuard& guard) {
    *fmt = avformat_alloc_context();
    if (*fmt == nullptr) {
        return AVERROR(ENOMEM);
    }
    guard.fmt = *fmt;
    guard.opening = true;
    (*fmt)->interrupt_callback.callback = &StopReading;
    (*fmt)->interrupt_callback.opaque = &guard;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file,pipe", 0);
    av_dict_set(&options, "format_whitelist", FormatWhitelist().c_str(), 0);
    // On failure avformat_open_input frees the context and nulls the pointer.
    int r = avformat_open_input(fmt, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r >= 0) {
        r = avformat_find_stream_info(*fmt, nullptr);
        if (r < 0) {
            avformat_close_input(fmt);
        }
    }
    guard.opening = false;
    if (r < 0) {
        guard.fmt = nullptr;
    }
    return r;
}

std::string LibavLimits::AudioStreamRefusal(int channels, int sampleRate) {
    if (channels <= 0 || sampleRate <= 0) {
        return "the audio stream has no sample rate or channel count";
    }
    if (channels > kMaxChannels) {
        return "the audio stream claims " + std::to_string(channels) + " channels; at most " +
               std::to_string(kMaxChannels) + " can be converted";
    }
    if (sampleRate > kMaxSampleRate) {
        return "the audio stream claims " + std::to_string(sampleRate) +
               " samples a second; at most " + std::to_string(kMaxSampleRate) + " can be converted";
    }
    // The WAV header states bytes per second in 32 bits; 32-bit samples are the widest.
    if (static_cast<uint64_t>(sampleRate) * static_cast<uint64_t>(channels) * 4 > UINT32_MAX) {
        return "the audio stream's " + std::to_string(channels) + " channels at " +
               std::to_string(sampleRate) + " Hz are more than a WAV header can state";
    }
    return {};
}
