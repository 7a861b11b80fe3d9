#include "ExtractArguments.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>

#include "MediaTime.h"

namespace {

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

ExtractArguments ExtractArguments::Parse(const std::vector<std::string>& args) {
    CLI::App app{
        "Takes the sound track out of a video or audio file and saves it as an "
        "uncompressed PCM WAV file.",
        "orvane-extract"};
    app.footer(kTimeForms);
    std::string input;
    std::string output;
    std::string start;
    std::string end;
    bool yes = false;
    bool quiet = false;
    bool probe = false;
    app.add_option("INPUT", input, "the video or audio file")->required();
    app.add_option("OUTPUT", output, "the WAV file; default: INPUT with the extension .wav");
    app.add_option("-s,--start", start, "start mark (default 0)")->type_name("TIME");
    app.add_option("-e,--end", end, "end mark (default: the end of the stream)")->type_name("TIME");
    app.add_flag("-y,--yes", yes, "replace an existing OUTPUT without asking");
    app.add_flag("-q,--quiet", quiet, "no progress display");
    app.add_flag("--probe", probe,
                 "print the duration and the PCM format that a conversion would write; write "
                 "nothing");
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
    result.input = input;
    result.output = output.empty() && app.count("OUTPUT") == 0 ? DefaultOutput(input) : output;
    result.yes = yes;
    result.quiet = quiet;
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
