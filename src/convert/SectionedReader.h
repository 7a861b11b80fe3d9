#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioStreamSource.h"

// One span of a track decoded on several threads at once and read back in order, as the
// bytes one source would give from its seek on. The first section is the caller's own
// source, read on the caller's thread; each later one is decoded by a thread of its own
// from a seek of its own (with the usual run-in) straight into its place in the output
// file, and read back from there when its turn comes.
//
// Where two sections meet, the earlier one decodes a little further and both must agree:
// on the stream place of the meeting sample, and byte for byte over the overlap. Where
// they do not (a gap in the timestamps, a seek that landed elsewhere, a decoder that has
// not settled), reading goes on with the earlier section's decoder, as one pass would, and
// the later sections are dropped. A section that ends early is the end of the stream,
// since everything before it agreed with one pass.
class SectionedReader {
  public:
    struct Plan {
        AudioSourceFactory factory;
        std::string mediaPath;
        int track = AudioStreamSource::kPrimaryTrack;
        SampleFormat sampleFormat = SampleFormat::Auto;
        AudioFormat format;  // as the first source was prepared
        int64_t rtStart = 0;
        // Set on every section's source when the first has one: the stream ends there.
        int64_t rtExactEnd = INT64_MAX;
        // Where the sections are planned up to: the end mark, the duration, the size limit.
        int64_t rtPlanEnd = 0;
        int sections = 2;
        int fd = -1;      // the output file, open for writing
        int readFd = -1;  // the same file, open for reading; the reader closes it
        int64_t dataOffset = 0;
    };

    // Starts the sections after the first; first must be open, prepared and sought.
    SectionedReader(AudioStreamSource& first, Plan plan);
    // Stops the sections' threads and waits for them: nothing is written after this.
    ~SectionedReader();
    SectionedReader(const SectionedReader&) = delete;
    SectionedReader& operator=(const SectionedReader&) = delete;

    // As AudioStreamSource::FillAudioBuffer; or, where InPlace() is then true, the count
    // of bytes that are already in the output file where the data goes on, buffer untouched.
    long Fill(uint8_t* buffer);
    bool InPlace() const { return m_bInPlace; }
    // Stops the sections' threads and waits for them; the clipped samples counted by the
    // sections that were read (a seam's frame may count twice).
    int64_t Stop();
    // How many sections were used in the end (1: it fell back to one pass at once).
    int SectionsUsed() const { return m_nCurrent + 1; }
    // True when a section could not be read back from the file: the stream ended there,
    // and the file is not whole.
    bool ReadBackFailed() const { return m_bReadBackFailed; }

    // The bytes two sections must agree on where they meet.
    static constexpr int kOverlapFrames = 4096;

  private:
    struct Section;

    void Decode(Section& s);
    // Reads on from a source that is used directly; false at the end of the stream.
    bool ReadDirect();
    // Reads the current section's next bytes from the file, at most `want` (so that the
    // buffers after it can be taken in place); false at the end of the stream.
    bool ReadFile(size_t want);
    // Takes a whole buffer of the current section as it lies in the file; false when its
    // section has no whole buffer left.
    bool TakeInPlace();
    // At the end of the current section's region: goes on with the next section when the
    // two agree, else with the current one's decoder.
    void Meet();
    // Reads past the end of a region for the overlap: the bytes after it and their place.
    static void ReadOverlap(AudioStreamSource& source, std::vector<uint8_t>& tail,
                            const std::atomic<bool>& stop, int64_t want);
    void StopAll();

    AudioStreamSource& m_first;
    Plan m_plan;
    MediaTimeline m_timeline;  // the first source's, for the others to reuse
    int64_t m_nBlock = 1;
    std::vector<std::unique_ptr<Section>> m_sections;
    std::atomic<bool> m_stop{false};
    // The first section whose stream has a gap in its range: the bytes after it do not lie
    // where the times put them, so the sections after it stop.
    std::atomic<size_t> m_nFirstGap{SIZE_MAX};
    void NoteGap(size_t section);
    int64_t m_nDelivered = 0;  // by the first section
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;

    // What the reader does now: reads m_direct (bytes left of its region, or INT64_MAX),
    // or reads section m_nCurrent back from the file.
    AudioStreamSource* m_direct = nullptr;
    int64_t m_nDirectLeft = 0;
    int m_nCurrent = 0;
    int64_t m_nFileRead = 0;  // of the current section's region
    std::vector<uint8_t> m_ready;
    size_t m_nReadyPos = 0;
    bool m_bEnded = false;
    bool m_bInPlace = false;
    bool m_bReadBackFailed = false;
    std::vector<uint8_t> m_scratch;
};
