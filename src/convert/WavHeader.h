#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "AudioFormat.h"

// Which header a WAV file gets.
enum class WavHeaderKind {
    // The canonical 44 bytes: RIFF, a 16-byte "fmt " chunk, "data". Up to 4 GB.
    Classic,
    // What ffmpeg writes with -rf64 auto: room for a ds64 chunk, an extensible format
    // block where the format needs one, a fact chunk for float; RF64 past 4 GB.
    Modern,
};

// The modern header's bytes, as ffmpeg 5.1 writes them with -rf64 auto -fflags +bitexact.
namespace WavHeader {

// The header that stands before dataBytes of PCM in the given format, in a file that has
// trailingBytes of other chunks after its data.
std::vector<uint8_t> Modern(const AudioFormat& format, uint64_t dataBytes,
                            uint64_t trailingBytes = 0);
// Its length, which does not depend on the data's.
size_t ModernSize(const AudioFormat& format);
// Whether that much data makes the file RF64.
bool NeedsRf64(const AudioFormat& format, uint64_t dataBytes, uint64_t trailingBytes = 0);

}  // namespace WavHeader
