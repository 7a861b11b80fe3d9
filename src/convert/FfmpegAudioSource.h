#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "AudioStreamSource.h"
#include "ContinuousStamps.h"
#include "FramePacker.h"
#include "LibavLimits.h"
#include "MediaTimeline.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVCodec;
struct AVPacket;
struct AVFrame;

// One audio track of a media file, decoded with the FFmpeg libraries to PCM at the
// stream's own rate and channel count, never resampled or mixed. By default integer
// PCM keeps its depth and floating-point decoders give 16-bit; a request may ask for
// 16, 24 or 32-bit integers or 32-bit float, converted as FFmpeg converts them.
//
// Time 0 is where the file starts. A mark means the sound that plays with the picture at
// that moment, as the muxer meant them to play together, and for sound alone the sample
// that was encoded then: StreamLead decides whether the codec's delay is taken off. In MPEG program
// and transport streams whose timestamps restart (joined files), time runs on through the joins
// (MediaTimeline): the duration, seeks and cuts all count in that continuous time.
class FfmpegAudioSource : public AudioStreamSource {
  public:
    FfmpegAudioSource();
    ~FfmpegAudioSource() override;
    FfmpegAudioSource(const FfmpegAudioSource&) = delete;
    FfmpegAudioSource& operator=(const FfmpegAudioSource&) = delete;

    // Makes FFmpeg sources: what the programs convert and probe with.
    static AudioSourceFactory Factory();

    int OpenAudioStream(const std::string& path, int track = kPrimaryTrack) override;
    int PrepareAudioSample(AudioFormat& format,
                           SampleFormat sampleFormat = SampleFormat::Auto) override;
    int Seek(int64_t rtStart) override;
    bool SetEnd(int64_t rtEnd) override;
    int64_t FrameAt(int64_t rt, uint32_t rate) const override;
    long FillAudioBuffer(uint8_t* buffer) override;
    int64_t StreamPlace() const override { return m_nPlace; }
    bool DecodesAlike() const override;
    void Release() override;
    int64_t StreamDuration() const override { return m_rtDuration; }
    bool GetMediaDuration(const std::string& path, int64_t& duration) override;
    bool ProbeMedia(const std::string& path, MediaInfo& info) override;
    bool ProbeMediaInSteps(const std::string& path, MediaInfo& info,
                           const EarlyInfo& early) override;
    void SetInterrupt(const std::atomic<bool>* flag) override { m_interrupt = flag; }
    std::vector<AudioTrack> Tracks() const override { return m_tracks; }
    MediaTimeline Timeline() const override { return m_stamps.Timeline(); }
    void ReuseTimeline(const MediaTimeline& timeline) override { m_reused = timeline; }
    int64_t ClippedSamples() const override { return m_packer.Clipped(); }
    bool HasSoundBetween(int64_t from, int64_t to) const override;
    std::string LastError() const override { return m_strError; }

    // How long decoding runs ahead of a seek target, so that decoders whose frames
    // overlap give the same samples as when decoding from the start.
    static constexpr int64_t kSeekPreroll = 10'000'000;

  private:
    int Fail(int code, const std::string& what);
    // Reads the stream's first packets, as many as deciding its lead takes; they are
    // decoded first unless a seek comes before.
    void DecideLead();
    // Decodes until pending output exists; false at the end of the stream.
    bool DecodeMore();
    // Sends the next packet of the stream to the decoder; false at the end of the input.
    bool SendNextPacket();
    // Converts the frame into pending output, minus the samples before the seek target
    // and from the end on; false when nothing of it is kept.
    bool TakeFrame();
    // The stream sample (time base 1/rate) at media time rt, the lead included.
    int64_t SampleAt(int64_t rt) const;
    // Where a seek lands when libavformat's own search fails: by bisecting the file's
    // bytes for the stream's timestamps, else at its start.
    // Forgets what was read and decoded before a seek.
    void Restart();
    int OpenDecoder();
    void FreeQueued();

    AVFormatContext* m_fmt = nullptr;
    const AVCodec* m_codec = nullptr;
    AVCodecContext* m_dec = nullptr;
    bool m_bDecoderUsed = false;  // a packet has gone into m_dec
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    int m_nStream = -1;
    int64_t m_rtDuration = 0;
    std::string m_strError;
    std::vector<AudioTrack> m_tracks;
    const std::atomic<bool>* m_interrupt = nullptr;
    LibavLimits::ReadGuard m_guard;  // checks the open file's reading

    // Media time 0 in stream time (100 ns units), and the samples by which the stream's
    // timestamps are moved (StreamLead).
    int64_t m_rtOrigin = 0;
    int m_nLead = 0;
    // The stream's first packets, read at open to decide the lead.
    std::deque<AVPacket*> m_queued;
    // An info frame that is never decoded (its timestamp), and where its padding says
    // the sound ends (stream samples).
    int64_t m_nInfoPts = INT64_MIN;
    int64_t m_nSoundEndSample = INT64_MAX;

    // Where the timestamps restart, and the packets' moves onto one continuous time.
    MediaTimeline m_timeline;
    ContinuousStamps m_stamps;
    std::optional<MediaTimeline> m_reused;

    FramePacker m_packer;
    std::vector<uint8_t> m_pending;
    size_t m_nPendingPos = 0;
    // The stream sample of m_pending's first byte (kUnknownPlace when unknown), and the
    // place of the next byte given.
    int64_t m_nPendingFirst = kUnknownPlace;
    int64_t m_nPlace = kUnknownPlace;
    bool m_bInputDone = false;
    bool m_bEnded = false;
    bool m_bPastEnd = false;
    int m_nBadReads = 0;

    // Samples are placed by their stream sample numbers: the next frame's first sample,
    // once known; those before the seek target and from the end sample on are dropped.
    bool m_bPositioned = false;
    int64_t m_nNextSample = 0;
    // How far rounded timestamps lie from the counted places, while running in.
    std::vector<int64_t> m_deviations;
    bool m_bTrimming = false;
    int64_t m_nTargetSample = 0;
    int64_t m_nEndSample = INT64_MAX;
};
