#include "WavFile.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {
uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
}  // namespace

WavFile WavFile::Read(const std::string& path) {
    WavFile w;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return w;
    }
    w.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (w.bytes.size() < 44) {
        return w;
    }
    const uint8_t* b = w.bytes.data();
    w.ok = true;
    w.riffSize = Le32(b + 4);
    w.fmtSize = Le32(b + 16);
    w.formatTag = Le16(b + 20);
    w.channels = Le16(b + 22);
    w.rate = Le32(b + 24);
    w.avgBytes = Le32(b + 28);
    w.blockAlign = Le16(b + 32);
    w.bits = Le16(b + 34);
    w.dataSize = Le32(b + 40);
    // Chunks after the data: only where the RIFF size counts more than the data's.
    size_t at = 44 + static_cast<size_t>(w.dataSize) + (w.dataSize & 1);
    if (w.riffSize > w.dataSize + 36 && w.bytes.size() == static_cast<size_t>(w.riffSize) + 8) {
        while (at + 8 <= w.bytes.size()) {
            const uint32_t size = Le32(b + at + 4);
            if (at + 8 + size > w.bytes.size()) {
                w.trailing.clear();
                break;
            }
            w.trailing.push_back({std::string(reinterpret_cast<const char*>(b + at), 4),
                                  std::vector<uint8_t>(b + at + 8, b + at + 8 + size)});
            at += 8 + size + (size & 1);
        }
    }
    return w;
}

const WavFile::Chunk* WavFile::Find(const std::string& id) const {
    for (const Chunk& c : trailing) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

std::vector<WavFile::Cue> WavFile::Cues() const {
    std::vector<Cue> cues;
    const Chunk* cue = Find("cue ");
    if (cue == nullptr || cue->body.size() < 4) {
        return cues;
    }
    const uint32_t count = Le32(cue->body.data());
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < count && 4 + 24 * (i + 1) <= cue->body.size(); ++i) {
        const uint8_t* p = cue->body.data() + 4 + 24 * i;
        ids.push_back(Le32(p));
        cues.push_back({Le32(p + 20), {}});
    }
    const Chunk* list = Find("LIST");
    if (list != nullptr && list->body.size() >= 4 &&
        std::memcmp(list->body.data(), "adtl", 4) == 0) {
        for (size_t at = 4; at + 12 <= list->body.size();) {
            const uint8_t* p = list->body.data() + at;
            const uint32_t size = Le32(p + 4);
            if (std::memcmp(p, "labl", 4) == 0 && size >= 4 && at + 8 + size <= list->body.size()) {
                const uint32_t id = Le32(p + 8);
                const std::string text(reinterpret_cast<const char*>(p + 12), size - 4);
                for (size_t k = 0; k < ids.size(); ++k) {
                    if (ids[k] == id) {
                        cues[k].label = text.substr(0, text.find('\0'));
                    }
                }
            }
            at += 8 + size + (size & 1);
        }
    }
    return cues;
}

bool WavFile::Valid() const {
    if (!ok) {
        return false;
    }
    const uint8_t* b = bytes.data();
    return std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVEfmt ", 8) == 0 &&
           std::memcmp(b + 36, "data", 4) == 0 && fmtSize == 16 && formatTag == 1 &&
           dataSize == DataBytes() &&
           (trailing.empty() ? riffSize == dataSize + 36 : riffSize + 8 == bytes.size()) &&
           blockAlign != 0 && avgBytes == rate * blockAlign && blockAlign == channels * (bits / 8);
}

std::vector<int16_t> WavFile::Samples16() const {
    std::vector<int16_t> s(DataBytes() / 2);
    if (!s.empty()) {
        std::memcpy(s.data(), Data(), s.size() * 2);
    }
    return s;
}
