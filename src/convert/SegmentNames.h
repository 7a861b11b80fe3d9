#pragma once

#include <string>
#include <vector>

#include "Segment.h"

// The file names of segments' WAV files, from a pattern: {file} (the source's name
// without its extension), {n} or {n:02} (the segment's number from 1, at least that many
// digits), {name} and {start} (H-MM-SS.mmm). Each name is made safe for any file system
// (no folder separators or characters some systems refuse, no blanks or dots at the end)
// and unique, and ends in .wav.
class SegmentNames {
  public:
    static constexpr const char* kDefaultPattern = "{file} {n:02} {name}";

    static std::vector<std::string> FileNames(const std::string& pattern,
                                              const std::string& sourcePath,
                                              const std::vector<Segment>& segments);
    // The text made safe as a file name's stem.
    static std::string Safe(const std::string& text);
};
