#include "ExtractArguments.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "MediaTime.h"
#include "SegmentNames.h"

namespace {

constexpr const char* kForms =
    "Usage: orvane-extract [options] INPUT [OUTPUT]\n"
    "       orvane-extract [options] -d DIR INPUT...\n"
    "       orvane-extract --segments LIST|--split-chapters|--split-silence[=DB,S,MARGIN]\n"
    "                      [-d DIR [--name PATTERN] | --join OUTPUT] [--bext] INPUT\n"
    "INPUT - reads standard input.\n"
    "TIME: seconds with a fraction (12.5) or [[H:]M:]S[.fff] (1:02:03.5), counted from the "
    "start of the file.";
constexpr const char* kTimeForms =
    "TIME: seconds with a fraction (12.5) or [[H:]M:]S[.fff] (1:02:03.5), counted from the "
    "start of the file.";

ExtractArguments UsageError(const std::string& text) {
    ExtractArguments args;
    args.action = ExtractArguments::Action::Exit;
    args.exitCode = ExtractArguments::kUsageError;
    args.errText = "Error: " + text + "\nRun with --help for more information.\n";
    return args;
}

}  // namespace

std::string ExtractArguments::DefaultOutput(const std::string& input) {
    std::filesystem::path path(input);
    path.replace_extension(".wav");
    return path.string();
}

std::string ExtractArguments::OutputInFolder(const std::string& folder, const std::string& input) {
    std::filesystem::path name = std::filesystem::path(input).filename();
    name.replace_extension(".wav");
    return (std::filesystem::path(folder) / name).string();
}

ExtractArguments ExtractArguments::Parse(const std::vector<std::string>& args) {
    CLI::App app{
        "Takes the sound track out of a video or audio file and saves it as an "
        "uncompressed PCM WAV file.",
        "orvane-extract"};
    app.footer(kForms);
    std::vector<std::string> positionals;
    std::string start;
    std::string end;
    std::string format = "auto";
    std::string header = "classic";
    std::string folder;
    int track = AudioStreamSource::kPrimaryTrack;
    bool yes = false;
    bool quiet = false;
    bool wholeBuffers = false;
    bool probe = false;
    bool json = false;
    std::string segmentList;
    bool splitChapters = false;
    std::string splitSilence;
    std::string joinOutput;
    std::string namePattern = SegmentNames::kDefaultPattern;
    bool bext = false;
    int threads = 0;
    app.add_option("INPUT", positionals,
                   "the video or audio file (- for standard input), then the WAV file "
                   "(default: INPUT with the extension .wav); with -d, any number of inputs")
        ->required();
    app.add_option("-s,--start", start, "start mark (default 0)")->type_name("TIME");
    app.add_option("-e,--end", end,
                   "end mark (default: the end of the stream); the WAV ends just before the "
                   "sample at the end mark")
        ->type_name("TIME");
    app.add_option("-a,--track", track,
                   "the audio track to convert, counted from 1 in the order of the file "
                   "(default: the file's primary track; --probe lists them)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    app.add_option("-f,--format", format,
                   "sample format: auto (the stream's own depth, 16-bit for compressed sound), "
                   "s16, s24, s32 or f32 (32-bit float)")
        ->type_name("FMT")
        ->check(CLI::IsMember({"auto", "s16", "s24", "s32", "f32"}));
    app.add_option("-w,--wav-header", header,
                   "classic (44 bytes, up to 4 GB) or modern (extensible format where needed, "
                   "RF64 past 4 GB)")
        ->type_name("KIND")
        ->check(CLI::IsMember({"classic", "modern"}));
    app.add_option("-d,--output-dir", folder, "write one WAV per INPUT into DIR, named after it")
        ->type_name("DIR");
    app.add_flag("--whole-buffers", wholeBuffers,
                 "end a cut as the converter dialog does by default: the last 5000-byte buffer "
                 "is written whole, up to 52 ms past the end mark");
    app.add_option("--segments", segmentList,
                   "cut the segments of a list file: CSV (start,end,name), tab-separated labels "
                   "(start, end, label in seconds) or a CUE sheet")
        ->type_name("LIST");
    app.add_flag("--split-chapters", splitChapters, "cut the file's chapters");
    app.add_option("--split-silence", splitSilence,
                   "cut the sound between silences quieter than DB dBFS (default -50) for at "
                   "least S seconds (default 2), keeping MARGIN seconds (default 0.25)")
        ->type_name("DB,S,MARGIN")
        ->expected(0, 1);
    app.add_option("--join", joinOutput,
                   "put the segments one after another into this one WAV file, with a cue point "
                   "at the start of each")
        ->type_name("OUTPUT");
    app.add_option("--name", namePattern,
                   "the segments' file names: {file}, {n} or {n:02}, {name}, {start} (default "
                   "\"{file} {n:02} {name}\")")
        ->type_name("PATTERN");
    app.add_flag("--bext", bext,
                 "write where each segment lies in the source (a Broadcast WAV bext chunk)");
    app.add_option("--threads", threads,
                   "decoding threads for a long conversion (default: one a core; 1 decodes in "
                   "one pass); the WAV is the same")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    app.add_flag("-y,--yes", yes, "replace an existing OUTPUT without asking");
    app.add_flag("-q,--quiet", quiet, "no progress display");
    CLI::Option* probeOption = app.add_flag(
        "--probe", probe,
        "print the duration, the PCM format that a conversion would write and the audio "
        "tracks; write nothing");
    app.add_flag("--json", json, "with --probe: print one JSON object instead")->needs(probeOption);
    app.set_version_flag("--version", kVersion);

    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    if (argv.empty()) {
        argv.push_back("orvane-extract");
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        ExtractArguments result;
        result.outText = app.help();
        return result;
    } catch (const CLI::CallForVersion&) {
        ExtractArguments result;
        result.outText = std::string(kVersion) + "\n";
        return result;
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }

    ExtractArguments result;
    const bool batch = app.count("--output-dir") > 0;
    const int sources = (app.count("--segments") > 0 ? 1 : 0) + (splitChapters ? 1 : 0) +
                        (app.count("--split-silence") > 0 ? 1 : 0);
    if (sources > 1) {
        return UsageError("--segments, --split-chapters and --split-silence go one at a time");
    }
    if (sources == 0 && (app.count("--join") > 0 || app.count("--name") > 0 || bext)) {
        return UsageError("--join, --name and --bext go with segments");
    }
    if (sources == 1) {
        if (positionals.size() != 1 || positionals[0] == AudioStreamSource::kStandardInput) {
            return UsageError("segments are cut from one INPUT file");
        }
        if (app.count("--start") > 0 || app.count("--end") > 0) {
            return UsageError("-s and -e do not go with segments; each has its own marks");
        }
        if (app.count("--join") > 0 && (batch || app.count("--name") > 0)) {
            return UsageError("--join writes one file: -d and --name do not go with it");
        }
        if (app.count("--split-silence") > 0 && !splitSilence.empty()) {
            double db = 0;
            double length = 0;
            double margin = 0;
            char end = 0;
            if (std::sscanf(splitSilence.c_str(), "%lf,%lf,%lf%c", &db, &length, &margin, &end) !=
                    3 ||
                length <= 0 || margin < 0 || db >= 0) {
                return UsageError("--split-silence takes DB,SECONDS,MARGIN, such as -50,2,0.25");
            }
            result.silenceDb = db;
            result.silenceLength = MediaTime::FromSeconds(length);
            result.silenceMargin = MediaTime::FromSeconds(margin);
        }
        result.segments = app.count("--segments") > 0 ? SegmentSource::List
                          : splitChapters             ? SegmentSource::Chapters
                                                      : SegmentSource::Silence;
        result.segmentList = segmentList;
        result.joinOutput = joinOutput;
        result.namePattern = namePattern;
        result.bext = bext;
        result.inputs.push_back(positionals[0]);
        result.outputDir = batch ? folder : std::string();
        result.yes = yes;
        result.quiet = quiet;
        result.json = json;
        result.track = track;
        result.sampleFormat = *SampleFormats::Parse(format);
        result.header = header == "modern" ? WavHeaderKind::Modern : WavHeaderKind::Classic;
        result.action = probe ? Action::Probe : Action::Segments;
        return result;
    }
    if (batch) {
        if (folder.empty()) {
            return UsageError("--output-dir needs a folder");
        }
        for (const std::string& input : positionals) {
            if (input == AudioStreamSource::kStandardInput) {
                return UsageError("-d cannot name a WAV after standard input; give INPUT OUTPUT");
            }
            result.inputs.push_back(input);
            result.outputs.push_back(OutputInFolder(folder, input));
        }
        result.outputDir = folder;
    } else {
        if (positionals.size() > 2) {
            return UsageError("one INPUT and one OUTPUT at most; use -d DIR for many inputs");
        }
        const std::string& input = positionals[0];
        if (input == AudioStreamSource::kStandardInput && positionals.size() < 2 && !probe) {
            return UsageError("reading standard input needs an OUTPUT");
        }
        result.inputs.push_back(input);
        result.outputs.push_back(positionals.size() == 2 ? positionals[1] : DefaultOutput(input));
    }
    if (probe && result.inputs.size() != 1) {
        return UsageError("--probe takes one INPUT");
    }
    result.yes = yes;
    result.end = wholeBuffers ? CutEnd::WholeBuffers : CutEnd::Exact;
    result.quiet = quiet;
    result.threads = threads;
    result.json = json;
    result.track = track;
    result.sampleFormat = *SampleFormats::Parse(format);
    result.header = header == "modern" ? WavHeaderKind::Modern : WavHeaderKind::Classic;
    if (app.count("--start") > 0) {
        const std::optional<int64_t> rt = MediaTime::Parse(start);
        if (!rt) {
            return UsageError("bad TIME for --start: \"" + start + "\". " + kTimeForms);
        }
        result.rtStart = *rt;
    }
    if (app.count("--end") > 0) {
        const std::optional<int64_t> rt = MediaTime::Parse(end);
        if (!rt) {
            return UsageError("bad TIME for --end: \"" + end + "\". " + kTimeForms);
        }
        result.rtEnd = *rt;
    }
    result.action = probe ? Action::Probe : Action::Convert;
    return result;
}
