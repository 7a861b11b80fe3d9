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
    return w;
}

bool WavFile::Valid() const {
    if (!ok) {
        return false;
    }
    const uint8_t* b = bytes.data();
    return std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVEfmt ", 8) == 0 &&
           std::memcmp(b + 36, "data", 4) == 0 && fmtSize == 16 && formatTag == 1 &&
           dataSize == DataBytes() && riffSize == dataSize + 36 && blockAlign != 0 &&
           avgBytes == rate * blockAlign && blockAlign == channels * (bits / 8);
}

std::vector<int16_t> WavFile::Samples16() const {
    std::vector<int16_t> s(DataBytes() / 2);
    if (!s.empty()) {
        std::memcpy(s.data(), Data(), s.size() * 2);
    }
    return s;
}
