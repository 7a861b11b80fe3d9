#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AudioStreamSource.h"
#include "LibavLimits.h"
#include "MediaTimeline.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

// One audio track of a media file, decoded with the FFmpeg libraries to PCM at the
// stream's own rate and channel count, never resampled or mixed. By default integer
// PCM keeps its depth and floating-point decoders give 16-bit; a request may ask for
// 16, 24 or 32-bit integers or 32-bit float, converted as FFmpeg converts them.
//
// Time 0 is where the file starts, and a mark means the sample that was encoded at
// that moment: for codecs whose decoded sound lags the frame times by a fixed delay
// that the file does not record, the delay is taken off. In MPEG program and transport
// streams whose timestamps restart (joined files), time runs on through the joins
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
    long FillAudioBuffer(uint8_t* buffer) override;
    void Release() override;
    int64_t StreamDuration() const override { return m_rtDuration; }
    bool GetMediaDuration(const std::string& path, int64_t& duration) override;
    bool ProbeMedia(const std::string& path, MediaInfo& info) override;
    void SetInterrupt(const std::atomic<bool>* flag) override { m_interrupt = flag; }
    std::vector<AudioTrack> Tracks() const override { return m_tracks; }
    MediaTimeline Timeline() const override { return m_timeline; }
    int64_t ClippedSamples() const override { return m_nClipped; }
    std::string LastError() const override { return m_strError; }

    // How long decoding runs ahead of a seek target, so that decoders whose frames
    // overlap give the same samples as when decoding from the start.
    static constexpr int64_t kSeekPreroll = 10'000'000;

  private:
    enum class Packing { Copy, Swr };

    int Fail(int code, const std::string& what);
    // Decodes until pending output exists; false at the end of the stream.
    bool DecodeMore();
    // Converts the frame into pending output, minus the samples before the seek
    // target; false when nothing of it is kept.
    bool TakeFrame();
    bool ConfigureConverter(const AVFrame* frame);
    // Counts the samples of a floating-point frame that integer output clips.
    void CountClipped(const AVFrame* frame);
    // Drops decoded samples up to media time rt (and the codec's lead).
    void TrimTo(int64_t rt);
    // Moves a packet's timestamps into the timeline's continuous time.
    void MakeContinuous(AVPacket* pkt);

    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_dec = nullptr;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_swr = nullptr;
    int m_nStream = -1;
    int64_t m_rtDuration = 0;
    std::string m_strError;
    std::vector<AudioTrack> m_tracks;
    const std::atomic<bool>* m_interrupt = nullptr;
    LibavLimits::ReadGuard m_guard;  // checks the open file's reading

    // Media time 0 in stream time (100 ns units), and the samples by which the decoded
    // sound lags its frame times.
    int64_t m_rtOrigin = 0;
    int m_nLead = 0;
    // The first packet, read at open to learn whether the file records the encoder's
    // delay; decoded first unless a seek comes before.
    AVPacket* m_firstPacket = nullptr;

    // Where the timestamps restart, the segment of the last packet read, and where that
    // packet ended (stream time base).
    MediaTimeline m_timeline;
    int m_nSegment = 0;
    int64_t m_nExpectedPts = INT64_MIN;  // none yet (AV_NOPTS_VALUE)

    AudioFormat m_format;
    int m_outSampleFormat = -1;  // AVSampleFormat of the converter's output
    Packing m_packing = Packing::Copy;
    bool m_bCountClips = false;
    int64_t m_nClipped = 0;
    int m_swrInFormat = -1;
    int m_swrInRate = 0;
    int m_swrInChannels = 0;

    std::vector<uint8_t> m_pending;
    std::vector<uint8_t> m_scratch;
    size_t m_nPendingPos = 0;
    bool m_bInputDone = false;
    bool m_bEnded = false;
    int m_nBadReads = 0;

    // Samples before the seek target are dropped: the target as a sample count from
    // the stream's time 0, and the running position of the next frame relative to it.
    bool m_bTrimming = false;
    int64_t m_nTargetSample = 0;
    int64_t m_nNextRelSample = 0;
    bool m_bHaveRel = false;
};
