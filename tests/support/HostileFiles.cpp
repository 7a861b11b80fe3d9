#include "HostileFiles.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace {

constexpr const char* kLyingWav =
    "UklGRmibAABXQVZFZm10ICgAAAD+/wEARKwAAMwEAgADABgAFgAYAAQAAAABAAAAAAAQAIAAAKoAOJtxTElTVBoA"
    "//hJTkZPSVNGVA4AAABMYXZmNTkuMjcuMTAwAACLCmR0YQBhfABfsfPS9QCd9gByEMoPAJkPAFgP+gAR+wAI/AAC"
    "/QAA/gD/5w==";

std::string Base64Decode(const std::string& text) {
    std::string bytes;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else {
            continue;  // padding
        }
        bits = bits << 6 | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

void PutLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

namespace HostileFiles {

void WriteLyingWav(const std::string& path) {
    std::ofstream(path, std::ios::binary) << Base64Decode(kLyingWav);
}

void WriteWavHeader(const std::string& path, int channels, int rate, int bits, int dataBytes) {
    const uint32_t block = static_cast<uint32_t>(channels) * static_cast<uint32_t>(bits / 8);
    std::string h = "RIFF";
    PutLe(h, 36u + static_cast<uint32_t>(dataBytes), 4);
    h += "WAVEfmt ";
    PutLe(h, 16, 4);
    PutLe(h, 1, 2);
    PutLe(h, static_cast<uint32_t>(channels), 2);
    PutLe(h, static_cast<uint32_t>(rate), 4);
    PutLe(h, static_cast<uint32_t>(rate) * block, 4);
    PutLe(h, block, 2);
    PutLe(h, static_cast<uint32_t>(bits), 2);
    h += "data";
    PutLe(h, static_cast<uint32_t>(dataBytes), 4);
    h.append(static_cast<size_t>(dataBytes), '\0');
    std::ofstream(path, std::ios::binary) << h;
}

long PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

}  // namespace HostileFiles
