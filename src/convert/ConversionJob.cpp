#include "ConversionJob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "MediaTime.h"
#include "SectionedReader.h"

ConversionJob::ConversionJob(SourceFactory factory, JobObserver& observer)
    : m_factory(std::move(factory)),
      m_observer(observer),
      m_nMaxDataBytes(WavWriter::kMaxDataBytes) {}

ConversionJob::~ConversionJob() {
    RequestStop();
    Join();
}

void ConversionJob::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

bool ConversionJob::Start(const ConversionRequest& request) {
    if (m_bBusy.load()) {
        return false;
    }
    Join();
    m_request = request;
    m_bSegments = false;
    return StartWorker();
}

bool ConversionJob::StartSegments(const SegmentRequest& request) {
    if (m_bBusy.load()) {
        return false;
    }
    Join();
    m_segments = request;
    m_request = ConversionRequest{};
    m_request.mediaPath = request.mediaPath;
    m_bSegments = true;
    return StartWorker();
}

bool ConversionJob::StartWorker() {
    m_nLastPosition = -1;
    m_rtConverted.store(0);
    // Set here rather than on the worker, so that a stop requested before the
    // worker has started is not lost.
    m_bStop.store(0);
    m_bBusy.store(true);
    try {
        m_thread = std::thread(&ConversionJob::ConvertThreadProc, this);
    } catch (const std::system_error&) {
        m_bBusy.store(false);
        m_bStop.store(1);
        return false;
    }
    return true;
}

int64_t ConversionJob::ByteBudget(int64_t rtStart, int64_t rtEnd, uint32_t nAvgBytesPerSec) {
    double budget = static_cast<double>(rtEnd - rtStart);
    budget *= 0.0000001;
    budget *= static_cast<double>(nAvgBytesPerSec);
    if (budget >= 9.2e18) {
        return INT64_MAX;
    }
    return static_cast<int64_t>(budget);
}

int64_t ConversionJob::ExactBudget(int64_t rtStart, int64_t rtEnd, const AudioFormat& format) {
    const auto frame = [&format](int64_t rt) {
        return static_cast<int64_t>(std::llround(
            static_cast<long double>(rt) * format.nSamplesPerSec / MediaTime::kUnitsPerSecond));
    };
    return std::max<int64_t>(frame(rtEnd) - frame(rtStart), 0) * format.nBlockAlign;
}

int ConversionJob::ProgressPosition(int64_t count, int64_t budget) {
    if (budget <= 0) {
        return 0;
    }
    const double position = static_cast<double>(count) / static_cast<double>(budget) * 1000.0;
    return position > 1000.0 ? 1000 : static_cast<int>(position);
}

void ConversionJob::Notify(JobNotice::Kind kind) {
    Notify(kind, m_request.outputPath);
}

void ConversionJob::Notify(JobNotice::Kind kind, const std::string& path) {
    m_observer.OnJobNotice(JobNotice{kind, path});
}

void ConversionJob::SendProgress(int position) {
    if (position != m_nLastPosition) {
        m_nLastPosition = position;
        m_observer.OnJobProgress(position);
    }
}

void ConversionJob::ConvertThreadProc() {
    m_observer.OnJobRunning();
    const JobOutcome outcome = RunConversion();
    // The bar goes back to 0 before the job counts as ended.
    m_nLastPosition = -1;
    SendProgress(0);
    m_bStop.store(1);
    m_observer.OnJobFinished(outcome);
    m_bBusy.store(false);
}

JobOutcome ConversionJob::RunConversion() {
    if (m_bSegments) {
        SegmentExport::Hooks hooks;
        hooks.progress = [this](int position) { SendProgress(position); };
        hooks.segment = [this](int number, int count) { m_observer.OnJobSegment(number, count); };
        hooks.notice = [this](JobNotice::Kind kind, const std::string& path) {
            Notify(kind, path);
        };
        hooks.stopAsked = [this] { return m_bStop.load() == 1; };
        return SegmentExport(m_factory, hooks, m_nMaxDataBytes).Run(m_segments);
    }
    JobOutcome outcome;
    std::unique_ptr<AudioStreamSource> source = m_factory();
    if (!OpenSource(*source, m_request.mediaPath, m_request.track, outcome)) {
        return outcome;
    }
    outcome = ConvertToWav(*source);
    source->Release();
    return outcome;
}

bool ConversionJob::OpenSource(AudioStreamSource& source, const std::string& path, int track,
                               JobOutcome& outcome) {
    const int r = source.OpenAudioStream(path, track);
    if (r != 0) {
        outcome.status = r == AudioStreamSource::kNoSuchTrack ? JobOutcome::Status::NoSuchTrack
                                                              : JobOutcome::Status::OpenFailed;
        outcome.reason = source.LastError();
        outcome.trackCount = static_cast<int>(source.Tracks().size());
        return false;
    }
    return true;
}

JobOutcome ConversionJob::ConvertToWav(AudioStreamSource& source) {
    JobOutcome outcome;
    const int r = source.PrepareAudioSample(outcome.format, m_request.sampleFormat);
    if (r != 0) {
        outcome.status = JobOutcome::Status::PrepareFailed;
        outcome.reason = source.LastError();
        return outcome;
    }
    const AudioFormat& format = outcome.format;
    if (m_request.replaceExisting) {
        // Removed rather than truncated, so a read-only file the user agreed to replace
        // is replaced too; a failure shows when the new file cannot be created.
        std::remove(m_request.outputPath.c_str());
    }
    WavWriter writer(m_nMaxDataBytes);
    const WavWriter::Result begun =
        writer.BeginWavFile(m_request.outputPath, m_request.header, format);
    if (begun != WavWriter::Result::Ok) {
        Notify(begun == WavWriter::Result::OpenFailed ? JobNotice::Kind::CannotOpenOutput
                                                      : JobNotice::Kind::CannotWrite);
        outcome.status = JobOutcome::Status::OutputFailed;
        return outcome;
    }
    const int64_t rtStart = m_request.rtStart;
    const int64_t rtEnd = m_request.rtEnd;
    source.Seek(rtStart);

    int64_t budget = ByteBudget(rtStart, rtEnd, format.nAvgBytesPerSec);
    int64_t progressBudget = budget;
    // The budget is the end itself, not a count of whole buffers.
    bool cutExactly = false;
    if (rtEnd == ConversionRequest::kToEndOfStream) {
        // Open-ended: the stream decides where to stop; progress counts against the
        // file's duration when the container knows it.
        budget = INT64_MAX;
        const int64_t duration = source.StreamDuration();
        progressBudget =
            duration > rtStart ? ByteBudget(rtStart, duration, format.nAvgBytesPerSec) : 0;
    } else if (m_request.end == CutEnd::Exact) {
        // The source ends the stream at the end mark's frame where it can tell its
        // samples' times; else its frames are counted here.
        budget = source.SetEnd(rtEnd) ? INT64_MAX : ExactBudget(rtStart, rtEnd, format);
        cutExactly = budget != INT64_MAX;
    }

    const int64_t block = format.nBlockAlign == 0 ? 1 : format.nBlockAlign;
    // Declared after the writer: its threads have stopped writing before the file closes.
    const std::unique_ptr<SectionedReader> sections = Sections(
        source, writer, format, budget == INT64_MAX && rtEnd != ConversionRequest::kToEndOfStream);
    std::vector<uint8_t> buffer(AudioStreamSource::AUDIO_BUFFER_SIZE);
    for (;;) {
        const long count = sections != nullptr ? sections->Fill(buffer.data())
                                               : source.FillAudioBuffer(buffer.data());
        if (count == AudioStreamSource::kEndOfStream || count < 0) {
            break;
        }
        // Read once per buffer: the buffer that sees the stop is the last one.
        const bool stop = m_bStop.load() == 1;
        const bool last = stop || writer.DataBytes() + count >= budget;
        size_t n = static_cast<size_t>(count);
        if (cutExactly) {
            n = static_cast<size_t>(std::min<int64_t>(count, budget - writer.DataBytes()));
        }
        if (last) {
            // 5000 bytes need not hold whole sample frames: the data ends on the last one.
            n -= static_cast<size_t>((writer.DataBytes() + static_cast<int64_t>(n)) % block);
        }
        const bool inPlace = sections != nullptr && sections->InPlace();
        const WavWriter::Result w =
            writer.WriteWavData(inPlace ? nullptr : buffer.data(), n, format.nBlockAlign);
        if (w == WavWriter::Result::WriteFailed) {
            Notify(JobNotice::Kind::CannotWrite);
            outcome.status = JobOutcome::Status::WriteFailed;
            outcome.dataBytes = writer.DataBytes();
            return outcome;
        }
        if (format.nAvgBytesPerSec > 0) {
            // Only read for display: an ordered store here would wait for every byte
            // just written to leave the core, once a buffer.
            m_rtConverted.store(
                writer.DataBytes() * MediaTime::kUnitsPerSecond / format.nAvgBytesPerSec,
                std::memory_order_relaxed);
        }
        if (w == WavWriter::Result::SizeLimit) {
            Notify(JobNotice::Kind::SizeLimit);
            outcome.status = JobOutcome::Status::SizeLimit;
            break;
        }
        if (writer.DataBytes() >= budget) {
            break;
        }
        if (stop) {
            outcome.status = JobOutcome::Status::Stopped;
            break;
        }
        if (progressBudget > 0) {
            SendProgress(ProgressPosition(writer.DataBytes(), progressBudget));
        }
    }
    if (sections != nullptr) {
        outcome.clippedSamples = sections->Stop();
        outcome.sections = sections->SectionsUsed();
        if (sections->ReadBackFailed()) {
            Notify(JobNotice::Kind::CannotWrite);
            outcome.status = JobOutcome::Status::WriteFailed;
            outcome.dataBytes = writer.DataBytes();
            return outcome;
        }
    } else {
        outcome.clippedSamples = source.ClippedSamples();
    }
    outcome.dataBytes = writer.DataBytes();
    if (outcome.status == JobOutcome::Status::Completed && outcome.dataBytes == 0 &&
        source.HasSoundBetween(rtStart, rtEnd)) {
        // An empty file is the answer only where the stream has no sound to give.
        outcome.status = JobOutcome::Status::NoSoundRead;
    }
    if (writer.FinishWavFile(format) != WavWriter::Result::Ok) {
        Notify(JobNotice::Kind::CannotWrite);
        outcome.status = JobOutcome::Status::WriteFailed;
        return outcome;
    }
    return outcome;
}

std::unique_ptr<SectionedReader> ConversionJob::Sections(AudioStreamSource& source,
                                                         WavWriter& writer,
                                                         const AudioFormat& format, bool exactEnd) {
    const int threads = m_request.threads > 0
                            ? m_request.threads
                            : static_cast<int>(std::thread::hardware_concurrency());
    if (threads < 2 || !source.DecodesAlike() ||
        m_request.mediaPath == AudioStreamSource::kStandardInput) {
        return nullptr;
    }
    const int64_t rtStart = m_request.rtStart;
    int64_t planEnd = m_request.rtEnd == ConversionRequest::kToEndOfStream ? source.StreamDuration()
                                                                           : m_request.rtEnd;
    if (m_request.header == WavHeaderKind::Classic && format.nAvgBytesPerSec > 0) {
        // Nothing is decoded for data past the size limit.
        const long double limit = static_cast<long double>(m_nMaxDataBytes) /
                                  format.nAvgBytesPerSec * MediaTime::kUnitsPerSecond;
        if (limit < static_cast<long double>(planEnd - rtStart)) {
            planEnd = rtStart + static_cast<int64_t>(limit);
        }
    }
    if (planEnd - rtStart < std::max<int64_t>(m_request.sectionsFrom, 1)) {
        return nullptr;
    }
    SectionedReader::Plan plan;
    plan.fd = writer.ShareData(plan.dataOffset, plan.readFd);
    if (plan.fd < 0) {
        return nullptr;
    }
    plan.factory = m_factory;
    plan.mediaPath = m_request.mediaPath;
    plan.track = m_request.track;
    plan.sampleFormat = m_request.sampleFormat;
    plan.format = format;
    plan.rtStart = rtStart;
    plan.rtExactEnd = exactEnd ? m_request.rtEnd : INT64_MAX;
    plan.rtPlanEnd = planEnd;
    plan.sections = threads;
    return std::make_unique<SectionedReader>(source, std::move(plan));
}
