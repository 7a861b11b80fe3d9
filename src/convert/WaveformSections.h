#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AudioStreamSource.h"
#include "WaveformPyramid.h"

// Decodes a track into its waveform pyramid: in one pass, or in sections side by side,
// each on a thread of its own from a seek of its own, filling its own range of the
// pyramid. Sections start on coarse bucket bounds, so that no bucket has two writers.
//
// Where two sections meet, the earlier decodes a little further and both must agree on
// the stream place of the meeting sample and on every byte of the overlap, as a sectioned
// conversion's do. Where they do not, the later section is stopped and forgotten, and the
// earlier goes on over its range as one pass would.
class WaveformSections {
  public:
    struct Plan {
        AudioSourceFactory factory;
        std::string path;
        int track = AudioStreamSource::kPrimaryTrack;
        int sections = 1;
    };

    // first: open and prepared (format), not yet sought; the pyramid's rate is set.
    WaveformSections(AudioStreamSource& first, const AudioFormat& format, WaveformPyramid& pyramid,
                     Plan plan, const std::atomic<bool>& cancelled);
    ~WaveformSections();
    WaveformSections(const WaveformSections&) = delete;
    WaveformSections& operator=(const WaveformSections&) = delete;

    // Decodes the whole track; true when it was decoded to its end, not cancelled.
    bool Run();
    // The sections that filled their ranges (1: one pass, or every meeting failed).
    int SectionsKept() const;

    // The bytes two sections must agree on where they meet.
    static constexpr int kOverlapFrames = 4096;

  private:
    struct Section;

    void Decode(Section& s);
    // Feeds bytes of the section's stream, from what was read past its end first; the
    // count, or 0 at the end of the stream.
    size_t Feed(Section& s, std::vector<uint8_t>& buffer, size_t at);
    // At the end of the section's range: true when the next section takes over; else the
    // next is dropped and this one goes on over its range.
    bool Meet(Section& s, std::vector<uint8_t>& tail, int64_t tailPlace);
    bool Stopped(const Section& s) const;

    AudioStreamSource& m_first;
    AudioFormat m_format;
    WaveformPyramid& m_pyramid;
    Plan m_plan;
    const std::atomic<bool>& m_cancelled;
    int64_t m_nBlock = 1;
    int64_t m_nOrigin = 0;     // the stream frame of output frame 0
    int64_t m_nUrgent = 0;     // the first section's frames decoded at the dialog's priority
    MediaTimeline m_timeline;  // the first source's, for the others to reuse
    std::vector<std::unique_ptr<Section>> m_sections;
    // The first section whose stream has a gap in its range: the frames after it do not lie
    // where the times put them, so the sections after it stop.
    std::atomic<size_t> m_nFirstGap{SIZE_MAX};
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
};
