// libFuzzer target: the engine's open, probe, seek and fill on arbitrary bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FfmpegAudioSource.h"
#include "LibavLimits.h"

namespace {

// The bytes as a file the engine opens by name, without touching the disk.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) : m_fd(memfd_create("fuzz-input", 0)) {
        if (m_fd >= 0 && write(m_fd, data, size) == static_cast<ssize_t>(size)) {
            m_path = "/proc/self/fd/" + std::to_string(m_fd);
        }
    }
    ~MemoryFile() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    const std::string& Path() const { return m_path; }

  private:
    int m_fd;
    std::string m_path;
};

}  // namespace

// The same limits as the programs run under: what they let through is a finding.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LibavLimits::Apply();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(data, size);
    if (file.Path().empty()) {
        return 0;
    }
    FfmpegAudioSource source;
    int64_t duration = 0;
    source.GetMediaDuration(file.Path(), duration);
    if (source.OpenAudioStream(file.Path()) != 0) {
        return 0;
    }
    AudioFormat format;
    if (source.PrepareAudioSample(format) != 0) {
        return 0;
    }
    // The first input byte picks a seek target, so both the plain start and real
    // seeks are explored.
    const int64_t target = size > 0 ? (data[0] % 8) * 5'000'000LL : 0;
    source.Seek(target);
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    // Bounded: a hostile file must not keep a fuzz run busy forever.
    for (int i = 0; i < 2000; ++i) {
        const long n = source.FillAudioBuffer(buffer);
        if (n == AudioStreamSource::kEndOfStream) {
            break;
        }
        if (n < 0 || n > static_cast<long>(sizeof buffer)) {
            __builtin_trap();  // the fill contract is broken
        }
    }
    source.Release();
    return 0;
}
