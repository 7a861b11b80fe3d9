#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A WAV file read back byte for byte, with its header fields decoded.
struct WavFile {
    bool ok = false;  // the file exists and holds at least the 44-byte header
    std::vector<uint8_t> bytes;
    uint32_t riffSize = 0;
    uint32_t fmtSize = 0;
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t avgBytes = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    uint32_t dataSize = 0;
    // Chunks after the data, where the RIFF size says the file goes on past it.
    struct Chunk {
        std::string id;
        std::vector<uint8_t> body;
    };
    std::vector<Chunk> trailing;
    // The cue points of a "cue " chunk with their labels from a LIST/adtl chunk.
    struct Cue {
        uint32_t frame = 0;
        std::string label;
    };

    static WavFile Read(const std::string& path);
    // True when the header is the canonical one and describes exactly the bytes that follow.
    bool Valid() const;
    const uint8_t* Data() const { return bytes.data() + 44; }
    size_t DataBytes() const {
        return !trailing.empty() ? dataSize : bytes.size() >= 44 ? bytes.size() - 44 : 0;
    }
    std::vector<Cue> Cues() const;
    const Chunk* Find(const std::string& id) const;
    std::vector<int16_t> Samples16() const;
};
