#include "WavHeader.h"

#include <cstring>

namespace {

class Bytes {
  public:
    void Tag(const char* fourcc) { m_bytes.insert(m_bytes.end(), fourcc, fourcc + 4); }
    void Le16(uint32_t v) { Le(v, 2); }
    void Le32(uint64_t v) { Le(v, 4); }
    void Le64(uint64_t v) { Le(v, 8); }
    void Zeros(size_t n) { m_bytes.insert(m_bytes.end(), n, 0); }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

  private:
    void Le(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    std::vector<uint8_t> m_bytes;
};

constexpr uint32_t kUnknown32 = 0xFFFFFFFFu;
// Sizes of the chunks' bodies.
constexpr size_t kReserve = 28;  // the ds64 chunk's body, held by a JUNK chunk until needed
constexpr size_t kPlainFmt = 16;
constexpr size_t kExtensibleFmt = 40;
constexpr size_t kFact = 4;

// As ffmpeg decides it: channels with named positions beyond mono and stereo, rates
// above 48 kHz and samples wider than 16 bits need the extensible format block.
bool Extensible(const AudioFormat& f) {
    return !f.plainLayout || f.nSamplesPerSec > 48000 || f.wBitsPerSample > 16;
}

bool HasFact(const AudioFormat& f) {
    return f.wFormatTag != AudioFormat::kPcm;
}

uint64_t SampleFrames(const AudioFormat& f, uint64_t dataBytes) {
    return f.nBlockAlign == 0 ? 0 : dataBytes / f.nBlockAlign;
}

}  // namespace

namespace WavHeader {

size_t ModernSize(const AudioFormat& format) {
    return 12 + 8 + kReserve + 8 + (Extensible(format) ? kExtensibleFmt : kPlainFmt) +
           (HasFact(format) ? 8 + kFact : 0) + 8;
}

bool NeedsRf64(const AudioFormat& format, uint64_t dataBytes, uint64_t trailingBytes) {
    const uint64_t fileSize = ModernSize(format) + dataBytes + (dataBytes & 1) + trailingBytes;
    return fileSize - 8 > kUnknown32 ||
           (HasFact(format) && SampleFrames(format, dataBytes) > kUnknown32);
}

std::vector<uint8_t> Modern(const AudioFormat& f, uint64_t dataBytes, uint64_t trailingBytes) {
    Bytes b;
    // The data chunk is padded to an even length; the RIFF size counts the pad.
    const uint64_t fileSize = ModernSize(f) + dataBytes + (dataBytes & 1) + trailingBytes;
    const uint64_t frames = SampleFrames(f, dataBytes);
    const bool rf64 = NeedsRf64(f, dataBytes, trailingBytes);
    b.Tag(rf64 ? "RF64" : "RIFF");
    b.Le32(rf64 ? kUnknown32 : fileSize - 8);
    b.Tag("WAVE");
    if (rf64) {
        b.Tag("ds64");
        b.Le32(kReserve);
        b.Le64(fileSize - 8);
        b.Le64(dataBytes + (dataBytes & 1));
        b.Le64(frames);
        b.Le32(0);  // no table of other chunks' sizes
    } else {
        b.Tag("JUNK");
        b.Le32(kReserve);
        b.Zeros(kReserve);
    }
    b.Tag("fmt ");
    if (Extensible(f)) {
        b.Le32(kExtensibleFmt);
        b.Le16(0xFFFE);
        b.Le16(f.nChannels);
        b.Le32(f.nSamplesPerSec);
        b.Le32(f.nAvgBytesPerSec);
        b.Le16(f.nBlockAlign);
        b.Le16(f.wBitsPerSample);
        b.Le16(22);                // the extension's size
        b.Le16(f.wBitsPerSample);  // valid bits
        // Masks with positions beyond the eighteen the format knows are left out.
        b.Le32(f.channelMask < 0x40000 ? f.channelMask : 0);
        // The sub-format GUID: the format tag in the base GUID
        // 0000xxxx-0000-0010-8000-00AA00389B71.
        b.Le32(f.wFormatTag);
        b.Le32(0x00100000);
        b.Le32(0xAA000080);
        b.Le32(0x719B3800);
    } else {
        b.Le32(kPlainFmt);
        b.Le16(f.wFormatTag);
        b.Le16(f.nChannels);
        b.Le32(f.nSamplesPerSec);
        b.Le32(f.nAvgBytesPerSec);
        b.Le16(f.nBlockAlign);
        b.Le16(f.wBitsPerSample);
    }
    if (HasFact(f)) {
        b.Tag("fact");
        b.Le32(kFact);
        b.Le32(rf64 ? kUnknown32 : frames);
    }
    b.Tag("data");
    b.Le32(rf64 ? kUnknown32 : dataBytes);
    return b.Take();
}

}  // namespace WavHeader
