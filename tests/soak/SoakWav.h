#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A cut as the dialog was asked for it, for the same cut from orvane-extract.
struct SoakCut {
    std::string media;
    int64_t start = 0, end = 0;  // media time
    int track = 1;               // counted from 1
    int format = 0;              // the format box's entry: auto, s16, s24, s32, f32
    bool modern = false;
    bool exactEnd = false;
};

// A WAV file's bytes and where its chunks are, classic or modern header alike.
struct SoakWav {
    std::vector<uint8_t> bytes;
    size_t fmtAt = 0, fmtSize = 0;  // the fmt chunk's body
    size_t dataAt = 0;              // the data chunk's body; it ends the file, padded or not
    size_t dataSize = 0;
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
    uint32_t rate = 0;

    // Empty when the file is a WAV whose sizes describe exactly the bytes it holds.
    static std::string Read(const std::string& path, SoakWav* wav);
    size_t DataBytes() const { return dataSize; }
};

// orvane-extract of the build: in ORVANE_BIN_DIR when CTest sets it, else beside the test.
std::string SoakCommandPath();
// Runs it for the cut into `output`; empty on success, else what went wrong.
std::string RunSoakCommand(const SoakCut& cut, const std::string& output);
// "12.3456789": seconds with every digit of media time.
std::string SecondsText(int64_t rt);

// The data bytes of a cut of the marks by the rules orvane-extract's help gives: the
// sample frames from the start mark's to the end mark's, each the frame nearest to its
// mark; or, ending in whole buffers, the marks' span in bytes rounded up to whole 5000-byte
// buffers and down to a whole frame.
int64_t SoakCutBytes(int64_t start, int64_t end, uint32_t rate, uint16_t blockAlign, bool exactEnd);
// Whether a stopped conversion's data is whole 5000-byte buffers cut to whole frames.
bool SoakWholeBuffers(int64_t bytes, uint16_t blockAlign);
