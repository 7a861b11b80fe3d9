#include "SegmentCommand.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CutListFile.h"
#include "ExtractCommand.h"
#include "ExtractObserver.h"
#include "MediaTime.h"
#include "ProgressLine.h"
#include "SegmentNames.h"
#include "SilenceFinder.h"
#include "StopSignals.h"
#include "WaveformBuilder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = ExtractCommand::kExitOk;
constexpr int kExitFailed = ExtractCommand::kExitFailed;
constexpr int kExitStopped = ExtractCommand::kExitStopped;

double Seconds(int64_t rt) {
    return static_cast<double>(std::llround(static_cast<double>(rt) / 10'000.0)) / 1000.0;
}

// Counts the segment being cut, for the progress line's [3/12].
class SegmentObserver : public ExtractObserver {
  public:
    using ExtractObserver::ExtractObserver;
    void OnJobSegment(int number, int count) override {
        m_number.store(number);
        m_count.store(count);
    }
    std::string Prefix() const {
        return "[" + std::to_string(m_number.load()) + "/" + std::to_string(m_count.load()) + "] ";
    }

  private:
    std::atomic<int> m_number{0};
    std::atomic<int> m_count{0};
};

}  // namespace

SegmentCommand::SegmentCommand(Console& console, ConversionJob::SourceFactory factory)
    : m_console(console), m_factory(std::move(factory)) {}

std::string SegmentCommand::SegmentText(size_t number, const Segment& s) {
    std::string text = std::to_string(number) + ": " + MediaTime::Format(s.start) + " - " +
                       MediaTime::Format(s.end) + " (" + MediaTime::Format(s.end - s.start) + ")";
    return s.name.empty() ? text : text + " " + s.name;
}

bool SegmentCommand::Silences(const ExtractArguments& args, const MediaInfo& info,
                              std::vector<Segment>& segments) {
    WaveformBuilder builder(m_factory);
    const std::shared_ptr<const WaveformPyramid> waveform =
        builder.Start(args.inputs.front(), args.track);
    while (builder.Busy()) {
        if (StopSignals::Received() != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::unique_ptr<AudioStreamSource> source = m_factory();
    AudioFormat format;
    if (!waveform->Complete() || source->OpenAudioStream(args.inputs.front(), args.track) != 0 ||
        source->PrepareAudioSample(format, args.sampleFormat) != 0) {
        m_console.Err() << "Error: cannot read the sound of " << args.inputs.front() << ": "
                        << source->LastError() << std::endl;
        return false;
    }
    SilenceFinder::Settings settings;
    settings.thresholdDb = args.silenceDb;
    settings.minimumLength = args.silenceLength;
    settings.margin = args.silenceMargin;
    segments = SilenceFinder::Sounds(*waveform, settings, info.duration, *source, format);
    return true;
}

bool SegmentCommand::Segments(const ExtractArguments& args, std::vector<Segment>& segments,
                              int& status) {
    const std::string& input = args.inputs.front();
    std::ostream& err = m_console.Err();
    status = kExitFailed;
    std::error_code ec;
    if (!fs::is_regular_file(input, ec)) {
        err << "Error: cannot cut " << input << ": not a regular file" << std::endl;
        return false;
    }
    MediaInfo info;
    std::unique_ptr<AudioStreamSource> prober = m_factory();
    if (!prober->ProbeMedia(input, info)) {
        err << "Error: cannot cut " << input << ": " << prober->LastError() << std::endl;
        return false;
    }
    switch (args.segments) {
        case ExtractArguments::SegmentSource::List: {
            std::ifstream in(args.segmentList, std::ios::binary);
            if (!in) {
                err << "Error: cannot read the cut list " << args.segmentList << std::endl;
                return false;
            }
            std::stringstream text;
            text << in.rdbuf();
            const CutListFile::Result read = CutListFile::Read(
                text.str(), CutListFile::FormatOf(args.segmentList), info.duration);
            if (!read.Ok()) {
                err << "Error: " << args.segmentList
                    << (read.errorLine > 0 ? ", line " + std::to_string(read.errorLine) : "")
                    << ": " << read.error << std::endl;
                return false;
            }
            segments = read.segments;
            break;
        }
        case ExtractArguments::SegmentSource::Chapters:
            segments = info.chapters;
            if (segments.empty()) {
                err << "Error: " << input << " has no chapters" << std::endl;
                return false;
            }
            break;
        case ExtractArguments::SegmentSource::Silence:
            if (!Silences(args, info, segments)) {
                return false;
            }
            break;
        case ExtractArguments::SegmentSource::None:
            return false;
    }
    status = kExitOk;
    return true;
}

int SegmentCommand::Probe(const ExtractArguments& args) {
    std::vector<Segment> segments;
    int status = kExitOk;
    if (!Segments(args, segments, status)) {
        return status;
    }
    if (!args.json) {
        for (size_t i = 0; i < segments.size(); ++i) {
            m_console.Out() << SegmentText(i + 1, segments[i]) << "\n";
        }
        m_console.Out() << std::flush;
        return kExitOk;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Segment& s : segments) {
        list.push_back({{"start", Seconds(s.start)}, {"end", Seconds(s.end)}, {"name", s.name}});
    }
    m_console.Out()
        << nlohmann::ordered_json{{"path", args.inputs.front()}, {"segments", list}}.dump()
        << std::endl;
    return kExitOk;
}

bool SegmentCommand::MayWrite(const ExtractArguments& args, std::vector<std::string>& outputs) {
    std::vector<std::string> existing;
    std::error_code ec;
    for (const std::string& path : outputs) {
        if (fs::is_regular_file(path, ec)) {
            existing.push_back(path);
        }
    }
    if (existing.empty() || args.yes) {
        return true;
    }
    std::ostream& err = m_console.Err();
    if (!m_console.InputIsTerminal()) {
        err << "Error: " << existing.size()
            << (existing.size() == 1 ? " file exists" : " files exist") << " (" << existing.front()
            << (existing.size() > 1 ? ", ..." : "")
            << "); use -y to replace them (no terminal to ask)" << std::endl;
        return false;
    }
    err << (existing.size() == 1 ? "This file exists:" : "These files exist:") << "\n";
    for (const std::string& path : existing) {
        err << "  " << path << "\n";
    }
    err << "Replace them (y), skip them (s), or cancel (n)? [y/s/N] " << std::flush;
    const std::optional<std::string> answer = m_console.ReadLine();
    const std::string a = answer ? *answer : std::string();
    if (a == "s" || a == "S") {
        for (std::string& path : outputs) {
            if (fs::is_regular_file(path, ec)) {
                path.clear();
            }
        }
        return true;
    }
    return a == "y" || a == "Y" || a == "yes";
}

int SegmentCommand::Run(const ExtractArguments& args) {
    std::vector<Segment> segments;
    int status = kExitOk;
    if (!Segments(args, segments, status)) {
        return status;
    }
    const std::string& input = args.inputs.front();
    SegmentRequest request;
    request.mediaPath = input;
    request.track = args.track;
    request.sampleFormat = args.sampleFormat;
    request.header = args.header;
    request.segments = segments;
    request.bext = args.bext;
    std::vector<std::string> outputs;
    if (!args.joinOutput.empty()) {
        outputs = {args.joinOutput};
    } else {
        const fs::path folder =
            args.outputDir.empty() ? fs::path(input).parent_path() : fs::path(args.outputDir);
        std::error_code ec;
        if (!args.outputDir.empty() && !fs::is_directory(folder, ec)) {
            m_console.Err() << "Error: " << args.outputDir << " is not a folder" << std::endl;
            return ExtractCommand::kExitUsage;
        }
        for (const std::string& name : SegmentNames::FileNames(args.namePattern, input, segments)) {
            outputs.push_back((folder / name).string());
        }
    }
    if (!MayWrite(args, outputs)) {
        return kExitFailed;
    }
    request.replaceExisting = true;  // what is still named was agreed to, or is new
    if (!args.joinOutput.empty()) {
        request.joinedOutput = outputs.front();
    } else {
        request.outputs = outputs;
    }

    std::ostream& err = m_console.Err();
    const bool showProgress = !args.quiet && m_console.ErrorIsTerminal();
    SegmentObserver observer(err);
    ConversionJob job(m_factory, observer);
    StopSignals signals;
    int64_t span = 0;
    for (const Segment& s : segments) {
        span += s.end - s.start;
    }
    const auto started = ProgressLine::Clock::now();
    ProgressLine progress(span, started);
    if (!job.StartSegments(request)) {
        err << "Error: can not begin thread!" << std::endl;
        return kExitFailed;
    }
    bool stopAsked = false;
    for (;;) {
        const bool finished = observer.WaitFinished(std::chrono::milliseconds(10));
        if (!stopAsked && StopSignals::Received() != 0) {
            job.RequestStop();
            stopAsked = true;
        }
        if (finished) {
            break;
        }
        const auto now = ProgressLine::Clock::now();
        if (showProgress && progress.Due(now)) {
            observer.ShowProgress(observer.Prefix() + progress.Text(observer.Position(), now));
        }
    }
    job.Join();
    observer.EndProgress();
    const JobOutcome outcome = observer.Outcome();
    switch (outcome.status) {
        case JobOutcome::Status::Completed:
            return StopSignals::Received() != 0 ? kExitStopped : kExitOk;
        case JobOutcome::Status::Stopped:
            if (!args.quiet) {
                observer.Print("Stopped: " + std::to_string(outcome.filesWritten) +
                               " of the segments' files written; the last one holds what was "
                               "cut when the stop came");
            }
            return kExitStopped;
        case JobOutcome::Status::NoSuchTrack:
        case JobOutcome::Status::OpenFailed:
        case JobOutcome::Status::PrepareFailed:
            observer.Print("Error: cannot cut " + input + ": " + outcome.reason);
            return kExitFailed;
        default:
            return kExitFailed;
    }
}
