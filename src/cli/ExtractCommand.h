#pragma once

#include <string>
#include <vector>

#include "Console.h"
#include "ConversionJob.h"
#include "ExtractArguments.h"

// orvane-extract: runs one conversion job for a command line, or probes a file,
// and turns the outcome into texts and an exit status.
class ExtractCommand {
  public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitFailed = 1;
    static constexpr int kExitUsage = ExtractArguments::kUsageError;
    static constexpr int kExitStopped = 130;

    explicit ExtractCommand(Console& console,
                            ConversionJob::SourceFactory factory = DefaultFactory());

    // args[0] is the program name, as in argv. Returns the exit status.
    int Run(const std::vector<std::string>& args);

    static ConversionJob::SourceFactory DefaultFactory();
    // "PCM 16-bit, 48000 Hz, 2 channels, 192000 bytes/s"
    static std::string FormatText(const AudioFormat& format);

  private:
    int Probe(const ExtractArguments& args);
    int Convert(const ExtractArguments& args);
    // False when the output must not be written: the same file as the input, or an
    // existing file that the user does not want replaced.
    bool MayWriteOutput(const ExtractArguments& args);
    // Media time that the job's progress positions cover; 0 when unknown.
    int64_t ProgressSpan(const ExtractArguments& args);

    Console& m_console;
    ConversionJob::SourceFactory m_factory;
};
