#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ConversionJob.h"
#include "OrvaneVersion.h"

// The command line of orvane-extract, read into what the command does.
class ExtractArguments {
  public:
    enum class Action {
        Convert,
        Probe,
        Exit,  // help, version or a usage error: print the texts and end with exitCode
    };

    static constexpr int kUsageError = 2;
    static constexpr const char* kVersion = "orvane-extract " ORVANE_VERSION;

    // args[0] is the program name, as in argv.
    static ExtractArguments Parse(const std::vector<std::string>& args);

    // INPUT with its extension replaced by .wav (added when it has none).
    static std::string DefaultOutput(const std::string& input);

    Action action = Action::Exit;
    int exitCode = 0;
    std::string outText;  // for standard output (help, version)
    std::string errText;  // for standard error (usage errors)

    std::string input;
    std::string output;
    int64_t rtStart = 0;
    int64_t rtEnd = ConversionRequest::kToEndOfStream;
    bool yes = false;
    bool quiet = false;
};
