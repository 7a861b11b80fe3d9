#pragma once

#include <string>
#include <vector>

#include "Console.h"
#include "ConversionJob.h"
#include "ExtractArguments.h"

// orvane-extract: runs a conversion job for each input of a command line, or probes a
// file, and turns the outcomes into texts and an exit status.
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
    // "Track 2: aac, 48000 Hz, stereo, language eng, title "Director", default, primary"
    static std::string TrackText(const AudioTrack& track);
    // What the engine decided about a track's codec delay, in words ("lead 481 samples
    // taken off"); empty for codecs without one.
    static std::string LeadText(const AudioTrack& track);

  private:
    int Probe(const ExtractArguments& args);
    int ConvertAll(const ExtractArguments& args);
    int Convert(const ExtractArguments& args, const std::string& input, const std::string& output);
    // False when the output must not be written: the same file as the input, or an
    // existing file that the user does not want replaced.
    bool MayWriteOutput(const ExtractArguments& args, const std::string& input,
                        const std::string& output);
    // The error status when INPUT cannot be converted as asked, found before any
    // question is asked or file touched; 0 when nothing is known against it.
    int CheckInput(const ExtractArguments& args, const std::string& input);
    // Media time that the job's progress positions cover; 0 when unknown.
    int64_t ProgressSpan(const ExtractArguments& args, const std::string& input);
    // "no track 3 in INPUT: it has 2 audio tracks"
    static std::string NoSuchTrackText(const std::string& input, int track, int count);

    Console& m_console;
    ConversionJob::SourceFactory m_factory;
};
