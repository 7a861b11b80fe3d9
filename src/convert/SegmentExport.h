#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AudioStreamSource.h"
#include "JobObserver.h"
#include "SampleFormat.h"
#include "Segment.h"
#include "WavHeader.h"

struct JobOutcome;

// What an export of many segments of one file is asked to do.
struct SegmentRequest {
    std::string mediaPath;
    int track = AudioStreamSource::kPrimaryTrack;
    SampleFormat sampleFormat = SampleFormat::Auto;
    WavHeaderKind header = WavHeaderKind::Classic;
    // In the list's order, which is by start.
    std::vector<Segment> segments;
    // A WAV file for each segment; an empty path leaves the segment out. Ignored when the
    // segments are joined.
    std::vector<std::string> outputs;
    // Set: the segments one after another in this one file, with a cue point at the first
    // sample of each.
    std::string joinedOutput;
    // Each file says where its sound lies in the source (a bext chunk).
    bool bext = false;
    // The user agreed to replace the outputs that exist: each is removed when its new file
    // is created.
    bool replaceExisting = false;
};

// Cuts the segments of one file from one open source, in time order, each exactly as a
// single cut of the same marks gives it (sought and run in as one, ending at its end
// mark's frame), into a WAV file each or into one joined file. A stop ends the file being
// written, valid, and starts no other.
class SegmentExport {
  public:
    struct Hooks {
        std::function<void(int position)> progress;          // 0..1000 over the whole export
        std::function<void(int number, int count)> segment;  // the segment being cut
        std::function<void(JobNotice::Kind kind, const std::string& path)> notice;
        std::function<bool()> stopAsked;
    };

    SegmentExport(AudioSourceFactory sources, Hooks hooks, int64_t maxDataBytes);
    JobOutcome Run(const SegmentRequest& request);

  private:
    struct Writing;
    bool Open(const SegmentRequest& request, JobOutcome& outcome);
    // Cuts one segment into the file being written; false when the export must end.
    bool Cut(const Segment& segment, Writing& into, JobOutcome& outcome);
    bool Finish(Writing& file, const std::vector<uint8_t>& trailing, JobOutcome& outcome);

    AudioSourceFactory m_sources;
    Hooks m_hooks;
    int64_t m_nMaxDataBytes;
    std::unique_ptr<AudioStreamSource> m_source;
    AudioFormat m_format;
    bool m_bUsed = false;  // the open source has been read from
    int64_t m_nTotalFrames = 0;
    int64_t m_nDoneBytes = 0;
    int m_nLastPosition = -1;
};
