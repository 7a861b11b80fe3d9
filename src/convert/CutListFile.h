#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Segment.h"

// Lists of segments as files: CSV (a header line, then start,end,name with times as
// seconds or H:MM:SS.mmm), the tab-separated label files audio editors export and import
// (start, end and label, in seconds), and CUE sheets (a TRACK with its TITLE and INDEX 01
// mm:ss:ff, 75 frames a second, for each segment; each ends where the next begins, the
// last at the end of the file).
class CutListFile {
  public:
    enum class Format { Csv, Labels, Cue };

    struct Result {
        std::vector<Segment> segments;
        int errorLine = 0;  // the line that could not be used, from 1; 0 for the file
        std::string error;  // empty when the list was read or written

        bool Ok() const { return error.empty(); }
    };

    // The format a file name says (.csv, .cue, anything else: labels).
    static Format FormatOf(const std::string& path);

    // Reads a whole list, sorted by start; on any bad line, nothing of it. Every segment
    // must lie within the file's duration and start before it ends.
    static Result Read(const std::string& text, Format format, int64_t duration);
    // The text of the list: H:MM:SS.mmm in CSV, seconds with six decimals in labels.
    // A CUE sheet is written only for segments that follow each other without gap or
    // overlap up to the end of the file; otherwise error says why. `audioFile` names the
    // file the sheet describes.
    static Result Write(const std::vector<Segment>& segments, Format format, int64_t duration,
                        const std::string& audioFile, std::string& text);
};
