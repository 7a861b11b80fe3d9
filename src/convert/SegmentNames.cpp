#include "SegmentNames.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "MediaTime.h"

std::string SegmentNames::Safe(const std::string& text) {
    std::string safe;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool refused = u < 0x20 || std::string("/\\:*?\"<>|").find(c) != std::string::npos;
        const char put = refused ? '_' : c;
        // Runs of blanks become one.
        if (put == ' ' && (safe.empty() || safe.back() == ' ')) {
            continue;
        }
        safe += put;
    }
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.')) {
        safe.pop_back();
    }
    return safe.empty() ? "segment" : safe;
}

std::vector<std::string> SegmentNames::FileNames(const std::string& pattern,
                                                 const std::string& sourcePath,
                                                 const std::vector<Segment>& segments) {
    const std::string file = std::filesystem::path(sourcePath).stem().string();
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (size_t i = 0; i < segments.size(); ++i) {
        std::string name;
        for (size_t at = 0; at < pattern.size();) {
            const size_t close = pattern[at] == '{' ? pattern.find('}', at) : std::string::npos;
            if (close == std::string::npos) {
                name += pattern[at++];
                continue;
            }
            const std::string field = pattern.substr(at + 1, close - at - 1);
            if (field == "file") {
                name += file;
            } else if (field == "name") {
                name += segments[i].name;
            } else if (field == "start") {
                std::string start = MediaTime::Format(segments[i].start);
                for (char& c : start) {
                    c = c == ':' ? '-' : c;
                }
                name += start;
            } else if (field == "n" || field.rfind("n:", 0) == 0) {
                const int width = field == "n" ? 0 : std::atoi(field.c_str() + 2);
                char number[32];
                std::snprintf(number, sizeof number, "%0*zu", width, i + 1);
                name += number;
            } else {
                name += pattern.substr(at, close - at + 1);  // not a field: kept as typed
            }
            at = close + 1;
        }
        std::string stem = Safe(name);
        std::string unique = stem;
        for (int k = 2; !taken.insert(unique).second; ++k) {
            unique = stem + " (" + std::to_string(k) + ")";
        }
        names.push_back(unique + ".wav");
    }
    return names;
}
