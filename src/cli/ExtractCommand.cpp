#include "ExtractCommand.h"

#include <cctype>
#include <filesystem>
#include <memory>

#include "ExtractObserver.h"
#include "FfmpegAudioSource.h"
#include "MediaTime.h"
#include "ProgressLine.h"
#include "StopSignals.h"

namespace fs = std::filesystem;

namespace {

// How often the main thread looks at the stop signal and the progress while it
// waits: short, so that Ctrl-C stops within a few buffers.
constexpr std::chrono::milliseconds kPollInterval{10};

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

bool IsYes(std::string answer) {
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) {
        answer.pop_back();
    }
    for (char& c : answer) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return answer == "y" || answer == "yes";
}

}  // namespace

ExtractCommand::ExtractCommand(Console& console, ConversionJob::SourceFactory factory)
    : m_console(console), m_factory(std::move(factory)) {}

ConversionJob::SourceFactory ExtractCommand::DefaultFactory() {
    return [] { return std::make_unique<FfmpegAudioSource>(); };
}

std::string ExtractCommand::FormatText(const AudioFormat& format) {
    return "PCM " + std::to_string(format.wBitsPerSample) + "-bit, " +
           std::to_string(format.nSamplesPerSec) + " Hz, " + std::to_string(format.nChannels) +
           (format.nChannels == 1 ? " channel, " : " channels, ") +
           std::to_string(format.nAvgBytesPerSec) + " bytes/s";
}

int ExtractCommand::Run(const std::vector<std::string>& argv) {
    const ExtractArguments args = ExtractArguments::Parse(argv);
    switch (args.action) {
        case ExtractArguments::Action::Exit:
            m_console.Out() << args.outText << std::flush;
            m_console.Err() << args.errText << std::flush;
            return args.exitCode;
        case ExtractArguments::Action::Probe:
            return Probe(args);
        case ExtractArguments::Action::Convert:
            break;
    }
    return Convert(args);
}

int ExtractCommand::Probe(const ExtractArguments& args) {
    std::unique_ptr<AudioStreamSource> source = m_factory();
    AudioFormat format;
    if (source->OpenAudioStream(args.input) != 0 || source->PrepareAudioSample(format) != 0) {
        m_console.Err() << "Error: cannot probe " << args.input << ": " << source->LastError()
                        << std::endl;
        return kExitFailed;
    }
    const int64_t duration = source->StreamDuration();
    m_console.Out() << "Duration: " << (duration > 0 ? MediaTime::Format(duration) : "unknown")
                    << "\nFormat: " << FormatText(format) << std::endl;
    source->Release();
    return kExitOk;
}

bool ExtractCommand::MayWriteOutput(const ExtractArguments& args) {
    std::ostream& err = m_console.Err();
    if (SameFile(args.input, args.output)) {
        err << "Error: the output " << args.output << " is the input file; give another OUTPUT"
            << std::endl;
        return false;
    }
    // Devices and other special files are written to, not replaced: no question.
    if (!IsRegularFile(args.output) || args.yes) {
        return true;
    }
    const std::string question = args.output + " exists. Do you want to replace it?";
    if (!m_console.InputIsTerminal()) {
        err << "Error: " << args.output << " exists; use -y to replace it (no terminal to ask)"
            << std::endl;
        return false;
    }
    err << question << " [y/N] " << std::flush;
    const std::optional<std::string> answer = m_console.ReadLine();
    if (!answer) {
        err << std::endl;
    }
    return answer && IsYes(*answer);
}

int64_t ExtractCommand::ProgressSpan(const ExtractArguments& args) {
    if (args.rtEnd != ConversionRequest::kToEndOfStream) {
        return args.rtEnd - args.rtStart;
    }
    // The job measures progress against the file's duration; the same measure here
    // turns its positions into media time for the speed. A pipe is not opened twice:
    // the probe would eat the start of the sound.
    if (!IsRegularFile(args.input)) {
        return 0;
    }
    int64_t duration = 0;
    if (!m_factory()->GetMediaDuration(args.input, duration) || duration <= args.rtStart) {
        return 0;
    }
    return duration - args.rtStart;
}

int ExtractCommand::Convert(const ExtractArguments& args) {
    std::ostream& err = m_console.Err();
    if (args.rtEnd != ConversionRequest::kToEndOfStream && args.rtStart >= args.rtEnd) {
        err << "Error: The Start Time is bigger than the End Time!" << std::endl;
        return kExitUsage;
    }
    if (!MayWriteOutput(args)) {
        return kExitFailed;
    }

    const bool showProgress = !args.quiet && m_console.ErrorIsTerminal();
    const int64_t span = showProgress ? ProgressSpan(args) : 0;

    ExtractObserver observer(err);
    ConversionJob job(m_factory, observer);
    StopSignals signals;
    ConversionRequest request;
    request.mediaPath = args.input;
    request.outputPath = args.output;
    request.rtStart = args.rtStart;
    request.rtEnd = args.rtEnd;
    request.replaceExisting = IsRegularFile(args.output);
    const auto started = ProgressLine::Clock::now();
    ProgressLine progress(span, started);
    if (!job.Start(request)) {
        err << "Error: can not begin thread!" << std::endl;
        return kExitFailed;
    }
    bool stopAsked = false;
    for (;;) {
        const bool finished = observer.WaitFinished(kPollInterval);
        if (!stopAsked && StopSignals::Received() != 0) {
            job.RequestStop();
            stopAsked = true;
        }
        if (finished) {
            break;
        }
        const auto now = ProgressLine::Clock::now();
        if (showProgress && progress.Due(now)) {
            observer.ShowProgress(progress.Text(observer.Position(), now));
        }
    }
    job.Join();
    const JobOutcome outcome = observer.Outcome();
    const bool interrupted = StopSignals::Received() != 0;

    if (showProgress && (outcome.status == JobOutcome::Status::Completed ||
                         outcome.status == JobOutcome::Status::Stopped)) {
        const int position =
            outcome.status == JobOutcome::Status::Completed ? 1000 : observer.Position();
        observer.ShowProgress(progress.Text(position, ProgressLine::Clock::now()));
    }
    observer.EndProgress();

    switch (outcome.status) {
        case JobOutcome::Status::Completed:
            if (outcome.dataBytes == 0) {
                observer.Print("Warning: no sound was written to " + args.output +
                               (args.rtStart > 0
                                    ? " (the start mark lies at or after the end of the sound)"
                                    : " (the stream held no sound)"));
            }
            return interrupted ? kExitStopped : kExitOk;
        case JobOutcome::Status::Stopped: {
            if (!args.quiet) {
                const double seconds =
                    outcome.format.nAvgBytesPerSec > 0
                        ? static_cast<double>(outcome.dataBytes) / outcome.format.nAvgBytesPerSec
                        : 0.0;
                observer.Print(
                    "Stopped: " + args.output + " holds the first " +
                    MediaTime::Format(static_cast<int64_t>(seconds * MediaTime::kUnitsPerSecond)) +
                    " of the span");
            }
            return kExitStopped;
        }
        case JobOutcome::Status::SizeLimit:
            // The file is valid but does not hold the whole span: not a success.
            return kExitFailed;
        case JobOutcome::Status::OpenFailed:
        case JobOutcome::Status::PrepareFailed:
            observer.Print("Error: cannot convert " + args.input + ": " + outcome.reason);
            return kExitFailed;
        case JobOutcome::Status::OutputFailed:
        case JobOutcome::Status::WriteFailed:
            break;
    }
    // A header the writer could not put out fails without a message of its own.
    if (!observer.MessageShown()) {
        observer.Print("Error: Can not write " + args.output);
    }
    // A half-written WAV would pass for a result: remove it. Devices are left alone.
    if (IsRegularFile(args.output)) {
        std::error_code ec;
        fs::remove(args.output, ec);
    }
    return kExitFailed;
}
