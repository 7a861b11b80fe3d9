#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioFormat.h"
#include "AudioTrack.h"
#include "MediaInfo.h"
#include "SampleFormat.h"

// The conversion's only contact with a media decoder: one audio track of a file as
// PCM, one buffer at a time, from a chosen start time on.
//
// Call order for one conversion: OpenAudioStream, PrepareAudioSample, Seek, SetEnd
// (for an exact end), FillAudioBuffer until it reports the end, Release (the destructor
// releases too).
class AudioStreamSource {
  public:
    static constexpr size_t AUDIO_BUFFER_SIZE = 5000;
    // What FillAudioBuffer returns at the end of the stream.
    static constexpr long kEndOfStream = -1;
    // The track number that means "the file's primary audio track".
    static constexpr int kPrimaryTrack = 0;
    // The path that means standard input.
    static constexpr const char* kStandardInput = "-";
    // OpenAudioStream's result when the file has no audio track of the asked number;
    // Tracks() then lists the ones it has.
    static constexpr int kNoSuchTrack = -0x4B415254;  // an FFmpeg-style tag error
    // The result for a path that names something other than a regular file.
    static constexpr int kNotRegularFile = -0x46474552;

    virtual ~AudioStreamSource() = default;

    // 0 on success, else a negative error code (an FFmpeg AVERROR for the real source);
    // LastError() then says why in words. track: 1-based, or kPrimaryTrack.
    virtual int OpenAudioStream(const std::string& path, int track = kPrimaryTrack) = 0;
    // The output PCM format for the requested sample format; 0 on success, else a
    // negative code.
    virtual int PrepareAudioSample(AudioFormat& format,
                                   SampleFormat sampleFormat = SampleFormat::Auto) = 0;
    // Later fills start with the sample at rtStart. The result is advisory.
    virtual int Seek(int64_t rtStart) = 0;
    // Makes the stream end just before the sample frame at rtEnd, picked as Seek picks
    // the start's; false when the source cannot tell its samples' times (the caller then
    // counts the frames itself).
    virtual bool SetEnd(int64_t /*rtEnd*/) { return false; }
    // The sample frame a mark at rt picks in a stream of `rate` frames a second: the
    // nearest, as Seek and SetEnd pick theirs. Only differences between marks count.
    virtual int64_t FrameAt(int64_t rt, uint32_t rate) const {
        return (static_cast<__int128>(rt) * rate + 5'000'000) / 10'000'000;
    }
    // Places the next decoded bytes at the start of buffer (AUDIO_BUFFER_SIZE bytes)
    // and returns their count, or kEndOfStream. A read failure ends the stream.
    virtual long FillAudioBuffer(uint8_t* buffer) = 0;
    // Where in the stream the next byte FillAudioBuffer gives lies: its sample frame's
    // number (as FrameAt counts) times the block size, plus its byte within the frame.
    // kUnknownPlace before the first fill, or where the samples' times are unknown.
    static constexpr int64_t kUnknownPlace = INT64_MIN;
    virtual int64_t StreamPlace() const { return kUnknownPlace; }
    // Whether two decoders of this stream, started at different places and run in, give
    // the same samples from where they meet: no decoder state drawn from a random
    // generator, none that a run-in leaves unsettled.
    virtual bool DecodesAlike() const { return false; }
    virtual void Release() = 0;

    // The open stream's file duration in media time, 0 when unknown.
    virtual int64_t StreamDuration() const = 0;
    // Probes a file's duration in media time: true and the duration (0 when the
    // container does not know it), or false when the file cannot be opened.
    virtual bool GetMediaDuration(const std::string& path, int64_t& duration) = 0;

    // Probes a file for what the dialog shows: its duration and audio tracks; false when
    // the file cannot be opened. The default knows only the duration.
    virtual bool ProbeMedia(const std::string& path, MediaInfo& info) {
        info = MediaInfo{};
        return GetMediaDuration(path, info.duration);
    }

    // As ProbeMedia, for a front end that shows the file before it has all been read: where
    // finding the timeline means reading the whole file, `early` is first given what is
    // known without it (MediaInfo::timelinePending set), on the probing thread; info is
    // then the whole answer. The default has nothing to give early.
    using EarlyInfo = std::function<void(const MediaInfo&)>;
    virtual bool ProbeMediaInSteps(const std::string& path, MediaInfo& info,
                                   const EarlyInfo& /*early*/) {
        return ProbeMedia(path, info);
    }

    // A flag that, once set (from any thread), makes a probe or open in progress give up
    // its reading at once and fail. nullptr for none; it must outlive the source's use.
    virtual void SetInterrupt(const std::atomic<bool>* /*flag*/) {}

    // The audio tracks of the file last opened (also after a kNoSuchTrack failure).
    virtual std::vector<AudioTrack> Tracks() const { return {}; }
    // How the open stream's timestamps map to media time; the identity unless they
    // restart somewhere in the file.
    virtual MediaTimeline Timeline() const { return {}; }
    // The timeline another source found for the same file and track: the next open takes
    // it instead of reading the file for it again.
    virtual void ReuseTimeline(const MediaTimeline& /*timeline*/) {}
    // Samples of a floating-point stream that integer output had to clip so far.
    virtual int64_t ClippedSamples() const { return 0; }
    // Whether the open stream, as its container tells it, has sound between two media
    // times: a fill that found none there lost it.
    virtual bool HasSoundBetween(int64_t /*from*/, int64_t /*to*/) const { return false; }

    virtual std::string LastError() const = 0;
};

// Makes a fresh source for each conversion, probe or waveform.
using AudioSourceFactory = std::function<std::unique_ptr<AudioStreamSource>()>;
