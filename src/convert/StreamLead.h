#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "AudioTrack.h"
#include "MpegAudioFrame.h"

struct AVFormatContext;
struct AVPacket;
struct AVVorbisParseContext;

// Decides how one audio stream's decoded sound is lined up with the file's time, from
// the stream's first packets: where a cut from t begins.
//
// With a picture, a cut from t begins with the sound that plays with the picture at t, as
// the muxer meant them to play together: a delay the file records is taken off; where the
// sound's first packet precedes the first picture by the codec's lead (within 1 ms), the
// timestamps carry the lead and nothing is taken off; where the two start together, the
// lead is taken off; any other gap is followed as it is. Without a picture (a cover
// picture does not count), a cut from t begins with the sample that was encoded at t: the
// lead is taken off unless the file records the delay.
//
// What the stream itself says comes first: MPEG audio's layer from its frame header (a
// probe may call layer II "mp3"), an info frame (Xing, Info, VBRI) as the first packet in
// any container, and for Vorbis in Matroska and WebM, where muxers stamp packets by
// different conventions, the first packets' timestamps against their decoded lengths.
class StreamLead {
  public:
    struct Decision {
        LeadRule rule = LeadRule::None;
        // Samples that the stream's timestamps are moved by: the decoded sample at
        // stream time p plays at p - shift.
        int shift = 0;
        // The samples the decision names: the codec's lead, or the delay recorded.
        int samples = 0;
        // The first packet is an info frame, to be dropped rather than decoded.
        bool dropFirstPacket = false;
        int64_t firstPts = INT64_MIN;
        // Where the sound ends, as stream samples (time base 1/rate) from stream time 0,
        // when the stream records its padding; INT64_MAX otherwise.
        int64_t endSample = INT64_MAX;
        // The codec's short name where the stream says better than the probe ("mp2").
        std::string codecName;
    };

    StreamLead(const AVFormatContext* fmt, int stream);
    ~StreamLead();
    StreamLead(const StreamLead&) = delete;
    StreamLead& operator=(const StreamLead&) = delete;

    // True while the decision needs more of the stream's packets.
    bool WantsMore() const;
    // The stream's packets, in file order from its first.
    void Add(const AVPacket* packet);
    Decision Decide() const;

    // How many of its packets the engine reads at most to decide.
    static constexpr int kMaxPackets = 64;

  private:
    int CodecLead() const;
    std::optional<int64_t> PictureStart() const;
    Decision DecideVorbisStamps() const;

    const AVFormatContext* m_fmt;
    int m_stream;
    bool m_matroska = false;
    bool m_vorbis = false;
    int m_packets = 0;
    // The first packet's facts.
    int64_t m_firstPts = INT64_MIN;
    int m_skipSamples = 0;
    std::optional<MpegAudioFrame> m_mpegFrame;
    std::optional<MpegAudioFrame::Info> m_info;
    // Vorbis: each packet's timestamp (stream samples) and decoded length.
    struct Stamp {
        int64_t pts;
        int samples;
    };
    std::vector<Stamp> m_stamps;
    AVVorbisParseContext* m_vorbisParser = nullptr;
};
