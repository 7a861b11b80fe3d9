#include "WavChunks.h"

#include <algorithm>

namespace {

void Tag(std::vector<uint8_t>& b, const char* fourcc) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<uint8_t>(fourcc[i]));
    }
}

void Text(std::vector<uint8_t>& b, const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        b.push_back(static_cast<uint8_t>(text[i]));
    }
}

void Le(std::vector<uint8_t>& b, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

// Text in a field of fixed size, cut to fit and filled with zeros.
void Field(std::vector<uint8_t>& b, const std::string& text, size_t size) {
    const size_t n = std::min(text.size(), size);
    Text(b, text, n);
    b.resize(b.size() + size - n, 0);
}

}  // namespace

namespace WavChunks {

std::vector<uint8_t> Bext(const std::string& description, uint64_t timeReference) {
    constexpr uint32_t kBody = 602;  // the fixed fields; no coding history
    std::vector<uint8_t> b;
    Tag(b, "bext");
    Le(b, kBody, 4);
    Field(b, description, 256);
    Field(b, "Orvane", 32);  // originator
    Field(b, "", 32);        // originator's reference
    Field(b, "", 10);        // origination date
    Field(b, "", 8);         // origination time
    Le(b, timeReference & 0xFFFFFFFFu, 4);
    Le(b, timeReference >> 32, 4);
    Le(b, 1, 2);             // version
    Field(b, "", 64 + 190);  // UMID, reserved
    return b;
}

std::vector<uint8_t> Cues(const std::vector<CuePoint>& points) {
    std::vector<uint8_t> b;
    Tag(b, "cue ");
    Le(b, 4 + 24 * points.size(), 4);
    Le(b, points.size(), 4);
    for (size_t i = 0; i < points.size(); ++i) {
        Le(b, i + 1, 4);            // its number
        Le(b, points[i].frame, 4);  // its place in the play order
        Tag(b, "data");
        Le(b, 0, 4);                // chunk start
        Le(b, 0, 4);                // block start
        Le(b, points[i].frame, 4);  // sample frame in the data
    }
    std::vector<uint8_t> labels;
    Tag(labels, "adtl");
    for (size_t i = 0; i < points.size(); ++i) {
        const std::string& text = points[i].label;
        Tag(labels, "labl");
        Le(labels, 4 + text.size() + 1, 4);
        Le(labels, i + 1, 4);
        Text(labels, text, text.size());
        labels.push_back(0);
        if ((text.size() + 1) % 2 != 0) {
            labels.push_back(0);  // chunks end on an even byte
        }
    }
    Tag(b, "LIST");
    Le(b, labels.size(), 4);
    b.insert(b.end(), labels.begin(), labels.end());
    return b;
}

}  // namespace WavChunks
