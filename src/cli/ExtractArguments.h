#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ConversionJob.h"
#include "OrvaneVersion.h"
#include "SampleFormat.h"
#include "WavHeader.h"

// The command line of orvane-extract, read into what the command does.
class ExtractArguments {
  public:
    enum class Action {
        Convert,
        Probe,
        Segments,  // many cuts of one INPUT: from a list, its chapters or its silences
        Exit,      // help, version or a usage error: print the texts and end with exitCode
    };

    static constexpr int kUsageError = 2;
    static constexpr const char* kVersion = "orvane-extract " ORVANE_VERSION;

    // args[0] is the program name, as in argv.
    static ExtractArguments Parse(const std::vector<std::string>& args);

    // INPUT with its extension replaced by .wav (added when it has none).
    static std::string DefaultOutput(const std::string& input);
    // The WAV of an input in the folder of -d: its file name with the extension .wav.
    static std::string OutputInFolder(const std::string& folder, const std::string& input);

    Action action = Action::Exit;
    int exitCode = 0;
    std::string outText;  // for standard output (help, version)
    std::string errText;  // for standard error (usage errors)

    // What to convert: one INPUT and OUTPUT, or with -d every INPUT into outputDir.
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;  // one for each input
    std::string outputDir;             // set with -d
    int64_t rtStart = 0;
    int64_t rtEnd = ConversionRequest::kToEndOfStream;
    int track = AudioStreamSource::kPrimaryTrack;
    SampleFormat sampleFormat = SampleFormat::Auto;
    WavHeaderKind header = WavHeaderKind::Classic;
    // The command ends a cut at the end mark's frame unless asked for whole buffers.
    CutEnd end = CutEnd::Exact;
    bool yes = false;
    bool quiet = false;
    int threads = 0;  // 0: one a core
    bool json = false;

    // Where the segments come from: a cut list file, the file's chapters, its silences.
    enum class SegmentSource { None, List, Chapters, Silence };
    SegmentSource segments = SegmentSource::None;
    std::string segmentList;
    // --split-silence's threshold (dBFS), shortest silence and margin (media time).
    double silenceDb = -50;
    int64_t silenceLength = 20'000'000;
    int64_t silenceMargin = 2'500'000;
    std::string joinOutput;  // set: the segments go into this one file
    std::string namePattern;
    bool bext = false;
};
