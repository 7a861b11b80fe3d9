#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestMedia.h"

// Debian's encoders and muxers other than FFmpeg's (twolame, lame, oggenc, opusenc,
// mkvmerge, mplex, GStreamer), for test files made the way users' files are made.

// The first of the commands that is not installed ("gst:NAME" names a GStreamer element);
// empty when all are.
inline std::string MissingTool(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) {
        const std::string check =
            command.rfind("gst:", 0) == 0
                ? "gst-inspect-1.0 " + ShellQuote(command.substr(4)) + " >/dev/null 2>&1"
                : "command -v " + ShellQuote(command) + " >/dev/null 2>&1";
        if (RunCommand(check) != 0) {
            return command;
        }
    }
    return {};
}

// Runs a shell script in the scratch folder; fails the test when it fails.
inline void RunInFolder(const TestMedia& media, const std::string& script) {
    std::string log;
    const int status =
        RunCommand("cd " + ShellQuote(media.Dir().string()) + " && (" + script + ") 2>&1", &log);
    EXPECT_EQ(status, 0) << script << "\n" << log;
}
