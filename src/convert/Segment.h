#pragma once

#include <cstdint>
#include <string>

// A piece of a file to cut: from start up to, not including, end (media time), and what
// it is called.
struct Segment {
    int64_t start = 0;
    int64_t end = 0;
    std::string name;

    bool operator==(const Segment&) const = default;
};
