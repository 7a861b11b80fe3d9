// The layout the sources keep: dependencies that point one way between the folders, no
// circle of includes, and no file too long to read as a whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Source {
    std::string folder;                 // "convert", "preview", ...
    std::vector<std::string> includes;  // the quoted includes found among the sources
    size_t lines = 0;
};

// Every .h and .cpp of src/, by file name (names are unique across the folders).
std::map<std::string, Source> ReadSources() {
    std::map<std::string, Source> sources;
    for (const auto& entry : fs::recursive_directory_iterator(ORVANE_SOURCE_DIR "/src")) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".h" || ext == ".cpp")) {
            sources[entry.path().filename().string()].folder =
                entry.path().parent_path().filename().string();
        }
    }
    const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
    for (auto& [name, source] : sources) {
        std::ifstream in(std::string(ORVANE_SOURCE_DIR "/src/") + source.folder + "/" + name);
        std::string line;
        std::smatch match;
        while (std::getline(in, line)) {
            ++source.lines;
            if (std::regex_search(line, match, include) && sources.count(match[1].str()) > 0) {
                source.includes.push_back(match[1].str());
            }
        }
    }
    return sources;
}

}  // namespace

TEST(SourceLayout, FoldersDependOneWayAndNoFileIsOverFiveHundredLines) {
    const std::map<std::string, Source> sources = ReadSources();
    ASSERT_GT(sources.size(), 50u);
    // What each folder may include from: the engine stands alone, the views and the player
    // use only its data types, the front ends use everything below them.
    const std::map<std::string, std::set<std::string>> allowed = {
        {"convert", {"convert"}},
        {"preview", {"preview", "convert"}},
        {"ui", {"ui", "convert"}},
        {"cli", {"cli", "convert"}},
        {"app", {"app", "ui", "preview", "convert"}},
    };
    for (const auto& [name, source] : sources) {
        SCOPED_TRACE(source.folder + "/" + name);
        EXPECT_LE(source.lines, 500u);
        const auto rule = allowed.find(source.folder);
        ASSERT_NE(rule, allowed.end());
        for (const std::string& included : source.includes) {
            EXPECT_TRUE(rule->second.count(sources.at(included).folder) > 0)
                << "includes " << sources.at(included).folder << "/" << included;
        }
    }
}

TEST(SourceLayout, NoIncludesGoRoundInACircle) {
    const std::map<std::string, Source> sources = ReadSources();
    // Depth-first over the includes; a file met again while on the path closes a circle.
    std::map<std::string, int> state;  // 1: on the path, 2: done
    std::vector<std::string> path;
    std::vector<std::string> circles;
    std::function<void(const std::string&)> visit = [&](const std::string& name) {
        state[name] = 1;
        path.push_back(name);
        for (const std::string& next : sources.at(name).includes) {
            if (state[next] == 1) {
                std::string circle;
                for (auto it = std::find(path.begin(), path.end(), next); it != path.end(); ++it) {
                    circle += *it + " -> ";
                }
                circles.push_back(circle + next);
            } else if (state[next] == 0) {
                visit(next);
            }
        }
        path.pop_back();
        state[name] = 2;
    };
    for (const auto& [name, source] : sources) {
        if (state[name] == 0) {
            visit(name);
        }
    }
    for (const std::string& circle : circles) {
        ADD_FAILURE() << circle;
    }
}
