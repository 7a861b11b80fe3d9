#include "CutListFile.h"

#include <algorithm>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "MediaTime.h"

namespace {

constexpr int64_t kSecond = MediaTime::kUnitsPerSecond;
constexpr int kCueFrames = 75;

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The fields of a CSV line; quoted fields may hold commas and doubled quotes.
bool SplitCsv(const std::string& line, std::vector<std::string>& fields) {
    fields.assign(1, {});
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return !quoted;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Seconds(int64_t rt) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, rt / kSecond,
                  (rt % kSecond + 5) / 10);
    return text;
}

// mm:ss:ff of a CUE sheet; nullopt when malformed.
std::optional<int64_t> CueTime(const std::string& text) {
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d%c", &minutes, &seconds, &frames, &end) != 3 ||
        minutes < 0 || seconds < 0 || seconds > 59 || frames < 0 || frames >= kCueFrames) {
        return std::nullopt;
    }
    return (static_cast<int64_t>(minutes) * 60 + seconds) * kSecond +
           static_cast<int64_t>(frames) * kSecond / kCueFrames;
}

std::string CueText(int64_t rt) {
    const int64_t frames = (rt * kCueFrames + kSecond / 2) / kSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64,
                  frames / (60 * kCueFrames), frames / kCueFrames % 60, frames % kCueFrames);
    return text;
}

// The text between the first pair of quotes, or the rest of the line.
std::string Unquoted(const std::string& text) {
    const size_t open = text.find('"');
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    return close == std::string::npos ? Trim(text) : text.substr(open + 1, close - open - 1);
}

CutListFile::Result Failed(int line, const std::string& why) {
    CutListFile::Result result;
    result.errorLine = line;
    result.error = why;
    return result;
}

}  // namespace

CutListFile::Format CutListFile::FormatOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext == "csv" ? Format::Csv : ext == "cue" ? Format::Cue : Format::Labels;
}

CutListFile::Result CutListFile::Read(const std::string& text, Format format, int64_t duration) {
    Result result;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool header = format == Format::Csv;
    // The CUE sheet's tracks: where each begins, and where each line of it was.
    std::vector<int> lines;
    while (std::getline(in, line)) {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || (format == Format::Labels && trimmed[0] == '\\')) {
            continue;  // blank, or the frequency line of a spectral label
        }
        Segment segment;
        if (format == Format::Cue) {
            std::istringstream words(trimmed);
            std::string word;
            words >> word;
            if (word == "TRACK") {
                result.segments.emplace_back();
                result.segments.back().start = -1;  // until its INDEX 01
                lines.push_back(number);
            } else if (word == "TITLE" && !result.segments.empty()) {
                result.segments.back().name = Unquoted(trimmed.substr(5));
            } else if (word == "INDEX" && !result.segments.empty()) {
                std::string index;
                std::string time;
                words >> index >> time;
                const std::optional<int64_t> rt = CueTime(time);
                if (!rt) {
                    return Failed(number, "not a time of the form mm:ss:ff: " + time);
                }
                if (index == "01") {
                    result.segments.back().start = *rt;
                }
            }
            continue;
        }
        if (header) {
            header = false;
            if (trimmed.rfind("start", 0) == 0) {
                continue;
            }
        }
        std::vector<std::string> fields;
        if (format == Format::Csv) {
            if (!SplitCsv(trimmed, fields)) {
                return Failed(number, "a quote is not closed");
            }
        } else {
            std::istringstream cells(line);
            std::string cell;
            while (std::getline(cells, cell, '\t')) {
                fields.push_back(cell);
            }
        }
        if (fields.size() < 2) {
            return Failed(number, "a start and an end are needed");
        }
        const std::optional<int64_t> start = MediaTime::Parse(Trim(fields[0]));
        const std::optional<int64_t> end = MediaTime::Parse(Trim(fields[1]));
        if (!start || !end) {
            return Failed(number, "not a time: " + Trim(fields[start ? 1 : 0]));
        }
        segment.start = *start;
        segment.end = *end;
        for (size_t i = 2; i < fields.size(); ++i) {
            segment.name += (i > 2 ? "," : "") + fields[i];
        }
        segment.name = Trim(segment.name);
        result.segments.push_back(segment);
        lines.push_back(number);
    }
    if (format == Format::Cue) {
        for (size_t i = 0; i < result.segments.size(); ++i) {
            if (result.segments[i].start < 0) {
                return Failed(lines[i], "the track has no INDEX 01");
            }
        }
        for (size_t i = 0; i < result.segments.size(); ++i) {
            result.segments[i].end =
                i + 1 < result.segments.size() ? result.segments[i + 1].start : duration;
        }
    }
    if (result.segments.empty()) {
        return Failed(0, "the list holds no segment");
    }
    for (size_t i = 0; i < result.segments.size(); ++i) {
        const Segment& s = result.segments[i];
        const int at = lines[i];
        if (s.end <= s.start) {
            return Failed(at, "the end is not after the start");
        }
        if (s.end > duration) {
            return Failed(
                at, "the end lies past the end of the file (" + MediaTime::Format(duration) + ")");
        }
        if (format == Format::Cue && i > 0 && s.start < result.segments[i - 1].start) {
            return Failed(at, "the track starts before the one above it");
        }
    }
    // The segment list is kept in time order, whatever order the file had.
    std::stable_sort(result.segments.begin(), result.segments.end(),
                     [](const Segment& a, const Segment& b) { return a.start < b.start; });
    return result;
}

CutListFile::Result CutListFile::Write(const std::vector<Segment>& segments, Format format,
                                       int64_t duration, const std::string& audioFile,
                                       std::string& text) {
    std::ostringstream out;
    if (format == Format::Csv) {
        out << "start,end,name\n";
        for (const Segment& s : segments) {
            out << MediaTime::Format(s.start) << "," << MediaTime::Format(s.end) << ","
                << CsvField(s.name) << "\n";
        }
    } else if (format == Format::Labels) {
        for (const Segment& s : segments) {
            out << Seconds(s.start) << "\t" << Seconds(s.end) << "\t" << s.name << "\n";
        }
    } else {
        for (size_t i = 0; i < segments.size(); ++i) {
            const int64_t next = i + 1 < segments.size() ? segments[i + 1].start : duration;
            if (segments[i].end != next) {
                return Failed(static_cast<int>(i) + 1,
                              i + 1 < segments.size()
                                  ? "a CUE sheet holds only segments that follow each other "
                                    "without a gap or an overlap"
                                  : "in a CUE sheet the last segment ends at the end of the file");
            }
        }
        out << "FILE \"" << audioFile << "\" WAVE\n";
        for (size_t i = 0; i < segments.size(); ++i) {
            char track[16];
            std::snprintf(track, sizeof track, "%02d", static_cast<int>(i) + 1);
            out << "  TRACK " << track << " AUDIO\n";
            out << "    TITLE \"" << segments[i].name << "\"\n";
            out << "    INDEX 01 " << CueText(segments[i].start) << "\n";
        }
    }
    text = out.str();
    Result result;
    result.segments = segments;
    return result;
}
