#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "AudioFormat.h"
#include "AudioStreamSource.h"
#include "JobObserver.h"
#include "SampleFormat.h"
#include "SegmentExport.h"
#include "WavWriter.h"

class SectionedReader;

// Where a cut with an end mark ends.
enum class CutEnd {
    // The last buffer is written whole: up to 5000 bytes past the end mark, as the
    // converter dialog always has.
    WholeBuffers,
    // At the end mark's sample frame, picked as the start mark's is.
    Exact,
};

// What one conversion is asked to do, copied when the job starts.
struct ConversionRequest {
    // The end mark that means "to the end of the stream".
    static constexpr int64_t kToEndOfStream = INT64_MAX;

    // A span is converted only when its start lies before its end.
    static constexpr bool MarksInOrder(int64_t start, int64_t end) { return start < end; }

    std::string mediaPath;
    std::string outputPath;
    int64_t rtStart = 0;
    int64_t rtEnd = 0;
    // The user agreed to replace an existing output file: it is removed when the new
    // one is created, so a conversion that fails before that leaves it alone.
    bool replaceExisting = false;
    // 1-based audio track; AudioStreamSource::kPrimaryTrack for the file's primary one.
    int track = AudioStreamSource::kPrimaryTrack;
    SampleFormat sampleFormat = SampleFormat::Auto;
    WavHeaderKind header = WavHeaderKind::Classic;
    CutEnd end = CutEnd::WholeBuffers;
    // Decoding threads: 0 for one a core, 1 for one pass. Sections are decoded side by
    // side only where the samples come out the same as in one pass.
    int threads = 0;
    // Shorter spans are converted in one pass: the sections' run-ins would not pay.
    int64_t sectionsFrom = 60 * 10'000'000LL;
};

struct JobOutcome {
    enum class Status {
        Completed,      // the span, or the stream, was converted
        Stopped,        // the user stopped it; the file is complete up to there
        SizeLimit,      // the WAV reached the RIFF size limit; the file is complete
        OpenFailed,     // the media file or its audio stream could not be opened
        NoSuchTrack,    // the file has no audio track of the asked number
        PrepareFailed,  // the stream gives no PCM format
        OutputFailed,   // the output file could not be created
        WriteFailed,    // writing the output failed
        NoSoundRead,    // nothing could be read between the marks, though the stream has sound
    };
    Status status = Status::Completed;
    std::string reason;     // the decoder's words for OpenFailed/PrepareFailed
    AudioFormat format;     // valid once the stream was prepared
    int64_t dataBytes = 0;  // bytes in the WAV's data chunk
    int trackCount = 0;     // the file's audio tracks, for NoSuchTrack
    // Samples of a floating-point stream that integer output clipped.
    int64_t clippedSamples = 0;
    // Files an export of segments finished.
    int filesWritten = 0;
    // Sections decoded side by side and read into the file (1: one pass).
    int sections = 1;
};

// One conversion on a worker thread of its own: opens the audio stream, seeks to
// the start mark, and writes buffers until the span between the marks is covered (in
// whole buffers, or exactly), the stream ends, a write fails or a stop is requested.
class ConversionJob {
  public:
    using SourceFactory = AudioSourceFactory;

    ConversionJob(SourceFactory factory, JobObserver& observer);
    // Stops a running conversion and waits for it: its file is finished and valid.
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // Starts the worker; false when a job is still running or its thread has not
    // been joined yet, or when no thread could be started.
    bool Start(const ConversionRequest& request);
    // The same for an export of segments, reported as one conversion (with the segment
    // being cut told as it starts).
    bool StartSegments(const SegmentRequest& request);
    // Asks the running job to stop after its current buffer. Safe from any thread,
    // and from a signal handler (one lock-free atomic store).
    void RequestStop() { m_bStop.store(1); }
    // True from Start until the worker has returned (finished its file).
    bool IsBusy() const { return m_bBusy.load(); }
    // Waits for the worker to end. Must not be called from an observer callback.
    void Join();
    // Media time converted so far by the running job (for progress without a known
    // length). Safe from any thread.
    int64_t ConvertedTime() const { return m_rtConverted.load(); }
    // The largest data chunk a job writes; lowered by tests to reach the limit quickly.
    void SetMaxDataBytes(int64_t bytes) { m_nMaxDataBytes = bytes; }

    // The buffer budget of a span: (end - start) x 1e-7 x bytes per second, in double
    // precision, truncated toward zero.
    static int64_t ByteBudget(int64_t rtStart, int64_t rtEnd, uint32_t nAvgBytesPerSec);
    // The bytes of the sample frames from the start mark's up to the end mark's, for a
    // source that cannot end at a time itself.
    static int64_t ExactBudget(int64_t rtStart, int64_t rtEnd, const AudioFormat& format);
    // 1000 x count / budget, truncated toward zero, at most 1000.
    static int ProgressPosition(int64_t count, int64_t budget);
    // Opens the track of the file; on failure, says why in outcome.
    static bool OpenSource(AudioStreamSource& source, const std::string& path, int track,
                           JobOutcome& outcome);

  private:
    bool StartWorker();
    void ConvertThreadProc();
    JobOutcome RunConversion();
    JobOutcome ConvertToWav(AudioStreamSource& source);
    // Decoders for later sections of the span, where they pay and give the same samples;
    // nullptr for one pass.
    std::unique_ptr<SectionedReader> Sections(AudioStreamSource& source, WavWriter& writer,
                                              const AudioFormat& format, bool exactEnd);
    void SendProgress(int position);
    // Tells the user about an output file and waits until they have seen it.
    void Notify(JobNotice::Kind kind);
    void Notify(JobNotice::Kind kind, const std::string& path);

    SourceFactory m_factory;
    JobObserver& m_observer;
    ConversionRequest m_request;
    SegmentRequest m_segments;
    bool m_bSegments = false;
    std::thread m_thread;
    // 1: no job runs or a stop was requested; 0: a job runs.
    std::atomic<int> m_bStop{1};
    std::atomic<bool> m_bBusy{false};
    std::atomic<int64_t> m_rtConverted{0};
    int m_nLastPosition = -1;
    int64_t m_nMaxDataBytes;
};
