#pragma once

#include <string>

// Inputs made to hurt the engine, written by the tests themselves. They are not media.
namespace HostileFiles {

// 139 bytes: a WAV whose LIST chunk states a size FFmpeg 5.1's WAV demuxer believes and
// zero-fills; without a cap on allocations it takes 1.6 GB before it fails.
void WriteLyingWav(const std::string& path);

// A canonical 44-byte PCM WAV header with the given fields, followed by dataBytes zero
// bytes; nothing checks that the fields make sense.
void WriteWavHeader(const std::string& path, int channels, int rate, int bits, int dataBytes);

// The process's peak resident memory so far (VmHWM), in KiB.
long PeakResidentKib();

}  // namespace HostileFiles
