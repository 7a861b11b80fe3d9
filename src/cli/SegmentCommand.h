#pragma once

#include <string>
#include <vector>

#include "Console.h"
#include "ConversionJob.h"
#include "ExtractArguments.h"
#include "MediaInfo.h"
#include "Segment.h"

// orvane-extract's many cuts of one file: the segments of a cut list, of the file's
// chapters or between its silences, into a WAV file each or one joined file.
class SegmentCommand {
  public:
    SegmentCommand(Console& console, ConversionJob::SourceFactory factory);

    // Cuts the segments; the exit status.
    int Run(const ExtractArguments& args);
    // --probe with a segment source: lists the segments that would be cut.
    int Probe(const ExtractArguments& args);

    // "1: 0:00:00.000 - 0:00:12.345 (0:00:12.345) Intro"
    static std::string SegmentText(size_t number, const Segment& segment);

  private:
    // The segments asked for; false, with the reason said, when there are none to cut.
    bool Segments(const ExtractArguments& args, std::vector<Segment>& segments, int& status);
    bool Silences(const ExtractArguments& args, const MediaInfo& info,
                  std::vector<Segment>& segments);
    // Whether the files may be written: replaced (true), the existing ones left out
    // (their paths emptied), or none (false).
    bool MayWrite(const ExtractArguments& args, std::vector<std::string>& outputs);

    Console& m_console;
    ConversionJob::SourceFactory m_factory;
};
