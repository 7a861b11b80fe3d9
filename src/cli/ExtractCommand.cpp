#include "ExtractCommand.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "ExtractObserver.h"
#include "FfmpegAudioSource.h"
#include "MediaTime.h"
#include "ProgressLine.h"
#include "SegmentCommand.h"
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

bool IsStandardInput(const std::string& path) {
    return path == AudioStreamSource::kStandardInput;
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

std::string Plural(int64_t n, const std::string& word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

nlohmann::ordered_json Optional(const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

// Seconds to the millisecond, as the text form shows them.
int64_t Milliseconds(int64_t rt) {
    return std::llround(static_cast<double>(rt) / 10'000.0);
}

// Where the segments of a timeline start: the file's start, then each restart.
std::vector<int64_t> SegmentStarts(const MediaTimeline& timeline) {
    std::vector<int64_t> starts;
    for (const MediaTimeline::Segment& s : timeline.Segments()) {
        starts.push_back(starts.empty() ? 0 : s.mediaStart);
    }
    return starts;
}

}  // namespace

ExtractCommand::ExtractCommand(Console& console, ConversionJob::SourceFactory factory)
    : m_console(console), m_factory(std::move(factory)) {}

ConversionJob::SourceFactory ExtractCommand::DefaultFactory() {
    return FfmpegAudioSource::Factory();
}

std::string ExtractCommand::FormatText(const AudioFormat& format) {
    return "PCM " + std::to_string(format.wBitsPerSample) + "-bit" +
           (format.wFormatTag == AudioFormat::kIeeeFloat ? " float" : "") + ", " +
           std::to_string(format.nSamplesPerSec) + " Hz, " + std::to_string(format.nChannels) +
           (format.nChannels == 1 ? " channel, " : " channels, ") +
           std::to_string(format.nAvgBytesPerSec) + " bytes/s";
}

std::string ExtractCommand::TrackText(const AudioTrack& track) {
    std::string text = "Track " + std::to_string(track.number) + ": " + track.codec + ", " +
                       std::to_string(track.sampleRate) + " Hz, " + track.channelLayout;
    if (track.language) {
        text += ", language " + *track.language;
    }
    if (track.title) {
        text += ", title \"" + *track.title + "\"";
    }
    if (track.isDefault) {
        text += ", default";
    }
    if (track.primary) {
        text += ", primary";
    }
    const std::string lead = LeadText(track);
    return lead.empty() ? text : text + ", " + lead;
}

std::string ExtractCommand::LeadText(const AudioTrack& track) {
    const std::string samples = Plural(track.leadSamples, "sample");
    switch (track.leadRule) {
        case LeadRule::None:
            break;
        case LeadRule::TakenOff:
            return "lead " + samples + " taken off";
        case LeadRule::Carried:
            return "timestamps carry the lead";
        case LeadRule::Recorded:
            return "delay of " + samples + " recorded in the file";
        case LeadRule::Followed:
            return "timestamps followed (sound and picture start apart)";
    }
    return {};
}

std::string ExtractCommand::NoSuchTrackText(const std::string& input, int track, int count) {
    return "no track " + std::to_string(track) + " in " + input + ": it has " +
           Plural(count, "audio track") + " (--probe lists them)";
}

int ExtractCommand::Run(const std::vector<std::string>& argv) {
    const ExtractArguments args = ExtractArguments::Parse(argv);
    switch (args.action) {
        case ExtractArguments::Action::Exit:
            m_console.Out() << args.outText << std::flush;
            m_console.Err() << args.errText << std::flush;
            return args.exitCode;
        case ExtractArguments::Action::Probe:
            if (args.segments != ExtractArguments::SegmentSource::None) {
                return SegmentCommand(m_console, m_factory).Probe(args);
            }
            return Probe(args);
        case ExtractArguments::Action::Segments:
            return SegmentCommand(m_console, m_factory).Run(args);
        case ExtractArguments::Action::Convert:
            break;
    }
    return ConvertAll(args);
}

int ExtractCommand::Probe(const ExtractArguments& args) {
    const std::string& input = args.inputs.front();
    std::unique_ptr<AudioStreamSource> source = m_factory();
    AudioFormat format;
    const int opened = source->OpenAudioStream(input, args.track);
    if (opened == AudioStreamSource::kNoSuchTrack) {
        m_console.Err() << "Error: "
                        << NoSuchTrackText(input, args.track,
                                           static_cast<int>(source->Tracks().size()))
                        << std::endl;
        return kExitUsage;
    }
    if (opened != 0 || source->PrepareAudioSample(format, args.sampleFormat) != 0) {
        m_console.Err() << "Error: cannot probe " << input << ": " << source->LastError()
                        << std::endl;
        return kExitFailed;
    }
    const int64_t duration = source->StreamDuration();
    // Every track with what was decided about its lead, which the open stream knows only
    // of itself.
    std::vector<AudioTrack> tracks = source->Tracks();
    MediaInfo info;
    if (input != AudioStreamSource::kStandardInput && m_factory()->ProbeMedia(input, info) &&
        info.tracks.size() == tracks.size()) {
        tracks = info.tracks;
    }
    const std::vector<int64_t> starts = SegmentStarts(source->Timeline());
    int primary = 0;
    int chosen = args.track;
    for (const AudioTrack& t : tracks) {
        if (t.primary) {
            primary = t.number;
            chosen = chosen == AudioStreamSource::kPrimaryTrack ? t.number : chosen;
        }
    }
    source->Release();
    if (!args.json) {
        std::ostream& out = m_console.Out();
        out << "Duration: " << (duration > 0 ? MediaTime::Format(duration) : "unknown") << "\n";
        if (starts.size() > 1) {
            out << "Timeline: " << starts.size() << " segments (timestamps restart at ";
            for (size_t i = 1; i < starts.size(); ++i) {
                out << (i > 1 ? ", " : "") << MediaTime::Format(starts[i]);
            }
            out << ")\n";
        }
        out << "Format: " << FormatText(format) << "\n";
        for (const AudioTrack& t : tracks) {
            out << TrackText(t) << "\n";
        }
        for (size_t i = 0; i < info.chapters.size(); ++i) {
            out << "Chapter " << SegmentCommand::SegmentText(i + 1, info.chapters[i]) << "\n";
        }
        out << std::flush;
        return kExitOk;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AudioTrack& t : tracks) {
        list.push_back({{"track", t.number},
                        {"index", t.streamIndex},
                        {"codec", t.codec},
                        {"sample_rate", t.sampleRate},
                        {"channels", t.channels},
                        {"channel_layout", t.channelLayout},
                        {"language", Optional(t.language)},
                        {"title", Optional(t.title)},
                        {"default", t.isDefault},
                        {"lead",
                         {{"samples", t.leadSamples},
                          {"taken_off", t.leadRule == LeadRule::TakenOff ||
                                            t.leadRule == LeadRule::Recorded}}}});
    }
    nlohmann::ordered_json probe;
    probe["path"] = input;
    probe["duration"] = duration > 0 ? nlohmann::ordered_json(Milliseconds(duration) / 1000.0)
                                     : nlohmann::ordered_json(nullptr);
    // The segments of a file whose timestamps restart; null when they run on.
    nlohmann::ordered_json segments(nullptr);
    for (size_t i = 0; i < starts.size() && starts.size() > 1; ++i) {
        const int64_t start = Milliseconds(starts[i]);
        const int64_t end = Milliseconds(i + 1 < starts.size() ? starts[i + 1] : duration);
        segments.push_back({{"start", start / 1000.0}, {"duration", (end - start) / 1000.0}});
    }
    probe["timeline"] = segments;
    probe["primary"] =
        primary > 0 ? nlohmann::ordered_json(primary) : nlohmann::ordered_json(nullptr);
    probe["tracks"] = list;
    nlohmann::ordered_json chapters = nlohmann::ordered_json::array();
    for (const Segment& c : info.chapters) {
        chapters.push_back({{"start", Milliseconds(c.start) / 1000.0},
                            {"end", Milliseconds(c.end) / 1000.0},
                            {"title", c.name}});
    }
    probe["chapters"] = chapters;
    probe["output"] = {
        {"track", chosen},
        {"format", SampleFormats::WrittenName(format.wFormatTag, format.wBitsPerSample)},
        {"sample_rate", format.nSamplesPerSec},
        {"channels", format.nChannels},
        {"bits", format.wBitsPerSample},
        {"bytes_per_second", format.nAvgBytesPerSec}};
    m_console.Out() << probe.dump() << std::endl;
    return kExitOk;
}

bool ExtractCommand::MayWriteOutput(const ExtractArguments& args, const std::string& input,
                                    const std::string& output) {
    std::ostream& err = m_console.Err();
    if (!IsStandardInput(input) && SameFile(input, output)) {
        err << "Error: the output " << output << " is the input file; give another OUTPUT"
            << std::endl;
        return false;
    }
    // Devices and other special files are written to, not replaced: no question.
    if (!IsRegularFile(output) || args.yes) {
        return true;
    }
    const std::string question = output + " exists. Do you want to replace it?";
    // Standard input carries the sound, not the answer.
    if (!m_console.InputIsTerminal() || IsStandardInput(input)) {
        err << "Error: " << output << " exists; use -y to replace it (no terminal to ask)"
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

int ExtractCommand::CheckInput(const ExtractArguments& args, const std::string& input) {
    if (IsStandardInput(input)) {
        return 0;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(input, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status)) {
        m_console.Err() << "Error: cannot convert " << input
                        << ": not a regular file (a named pipe, a device or a folder)" << std::endl;
        return kExitFailed;
    }
    if (args.track == AudioStreamSource::kPrimaryTrack || !fs::is_regular_file(status)) {
        return 0;
    }
    // A track that is not there is a mistake in the command: said before any question.
    std::unique_ptr<AudioStreamSource> source = m_factory();
    if (source->OpenAudioStream(input, args.track) == AudioStreamSource::kNoSuchTrack) {
        m_console.Err() << "Error: "
                        << NoSuchTrackText(input, args.track,
                                           static_cast<int>(source->Tracks().size()))
                        << std::endl;
        return kExitUsage;
    }
    return 0;
}

int64_t ExtractCommand::ProgressSpan(const ExtractArguments& args, const std::string& input) {
    if (args.rtEnd != ConversionRequest::kToEndOfStream) {
        return args.rtEnd - args.rtStart;
    }
    // The job measures progress against the file's duration; the same measure here
    // turns its positions into media time for the speed. A pipe is not opened twice:
    // the probe would eat the start of the sound.
    if (!IsRegularFile(input)) {
        return 0;
    }
    int64_t duration = 0;
    if (!m_factory()->GetMediaDuration(input, duration) || duration <= args.rtStart) {
        return 0;
    }
    return duration - args.rtStart;
}

int ExtractCommand::ConvertAll(const ExtractArguments& args) {
    std::ostream& err = m_console.Err();
    if (!ConversionRequest::MarksInOrder(args.rtStart, args.rtEnd)) {
        err << "Error: The Start Time is bigger than the End Time!" << std::endl;
        return kExitUsage;
    }
    if (args.outputDir.empty()) {
        return Convert(args, args.inputs.front(), args.outputs.front());
    }
    std::error_code ec;
    if (!fs::is_directory(args.outputDir, ec)) {
        err << "Error: " << args.outputDir << " is not a folder" << std::endl;
        return kExitUsage;
    }
    const bool showProgress = !args.quiet && m_console.ErrorIsTerminal();
    std::set<std::string> written;
    int failed = 0;
    const size_t count = args.inputs.size();
    for (size_t i = 0; i < count; ++i) {
        if (StopSignals::Received() != 0) {
            return kExitStopped;
        }
        const std::string& input = args.inputs[i];
        const std::string& output = args.outputs[i];
        if (showProgress) {
            err << "[" << i + 1 << "/" << count << "] " << input << " -> " << output << std::endl;
        }
        // Two inputs with the same name would write one WAV twice: the second is refused.
        if (!written.insert(fs::weakly_canonical(output, ec).string()).second) {
            err << "Error: cannot convert " << input << ": " << output
                << " is the WAV of an earlier input of this run" << std::endl;
            ++failed;
            continue;
        }
        const int status = Convert(args, input, output);
        if (status == kExitStopped) {
            return status;
        }
        failed += status == kExitOk ? 0 : 1;
    }
    return failed > 0 ? kExitFailed : kExitOk;
}

int ExtractCommand::Convert(const ExtractArguments& args, const std::string& input,
                            const std::string& output) {
    if (const int refused = CheckInput(args, input); refused != 0) {
        return refused;
    }
    if (!MayWriteOutput(args, input, output)) {
        return kExitFailed;
    }

    const bool showProgress = !args.quiet && m_console.ErrorIsTerminal();
    const int64_t span = showProgress ? ProgressSpan(args, input) : 0;

    std::ostream& err = m_console.Err();
    ExtractObserver observer(err);
    ConversionJob job(m_factory, observer);
    StopSignals signals;
    ConversionRequest request;
    request.mediaPath = input;
    request.outputPath = output;
    request.rtStart = args.rtStart;
    request.rtEnd = args.rtEnd;
    request.replaceExisting = IsRegularFile(output);
    request.track = args.track;
    request.sampleFormat = args.sampleFormat;
    request.header = args.header;
    request.end = args.end;
    request.threads = args.threads;
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
            observer.ShowProgress(progress.Text(observer.Position(), now, job.ConvertedTime()));
        }
    }
    job.Join();
    const JobOutcome outcome = observer.Outcome();
    const bool interrupted = StopSignals::Received() != 0;

    if (showProgress && (outcome.status == JobOutcome::Status::Completed ||
                         outcome.status == JobOutcome::Status::Stopped)) {
        const int position =
            outcome.status == JobOutcome::Status::Completed ? 1000 : observer.Position();
        observer.ShowProgress(
            progress.Text(position, ProgressLine::Clock::now(), job.ConvertedTime()));
    }
    observer.EndProgress();
    if (outcome.clippedSamples > 0) {
        observer.Print("Warning: " + Plural(outcome.clippedSamples, "sample") + " of " + input +
                       " were louder than " + std::to_string(outcome.format.wBitsPerSample) +
                       "-bit integers can hold and were clipped; -f f32 keeps them whole");
    }

    switch (outcome.status) {
        case JobOutcome::Status::Completed:
            if (outcome.dataBytes == 0) {
                observer.Print("Warning: no sound was written to " + output +
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
                    "Stopped: " + output + " holds the first " +
                    MediaTime::Format(static_cast<int64_t>(seconds * MediaTime::kUnitsPerSecond)) +
                    " of the span");
            }
            return kExitStopped;
        }
        case JobOutcome::Status::SizeLimit:
            // The file is valid but does not hold the whole span: not a success.
            return kExitFailed;
        case JobOutcome::Status::NoSuchTrack:
            observer.Print("Error: " + NoSuchTrackText(input, args.track, outcome.trackCount));
            return kExitUsage;
        case JobOutcome::Status::OpenFailed:
        case JobOutcome::Status::PrepareFailed:
            observer.Print("Error: cannot convert " + input + ": " + outcome.reason);
            return kExitFailed;
        case JobOutcome::Status::NoSoundRead:
            observer.Print("Error: cannot convert " + input +
                           ": no sound could be read from the start mark on, although the "
                           "stream has sound there");
            break;
        case JobOutcome::Status::OutputFailed:
        case JobOutcome::Status::WriteFailed:
            break;
    }
    // The job has said what failed. A half-written WAV would pass for a result: remove
    // it. Devices are left alone.
    if (IsRegularFile(output)) {
        std::error_code ec;
        fs::remove(output, ec);
    }
    return kExitFailed;
}
