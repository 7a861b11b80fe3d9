#include "WavWriter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The data goes out in pieces of at most 5000 bytes; a large stream buffer keeps
// that from costing a system call each.
constexpr size_t kStreamBuffer = 1 << 20;

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

}  // namespace

const std::array<uint8_t, WavWriter::kHeaderSize> WavWriter::kHeaderTemplate = {
    0x52, 0x49, 0x46, 0x46, 0x00, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
    0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
    0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};

WavWriter::WavWriter(int64_t maxDataBytes) : m_nMaxDataBytes(maxDataBytes) {}

WavWriter::~WavWriter() {
    Close();
}

WavWriter::Result WavWriter::Fail() {
    Close();
    return Result::WriteFailed;
}

bool WavWriter::Close() {
    if (m_file == nullptr) {
        return true;
    }
    const bool written = !m_bAsync || m_async.Finish();
    m_bAsync = false;
    const bool ok = std::fclose(m_file) == 0 && written;
    m_file = nullptr;
    std::free(m_buffer);
    m_buffer = nullptr;
    return ok;
}

WavWriter::Result WavWriter::BeginWavFile(const std::string& path) {
    return BeginWavFile(path, WavHeaderKind::Classic, AudioFormat{});
}

WavWriter::Result WavWriter::BeginWavFile(const std::string& path, WavHeaderKind kind,
                                          const AudioFormat& format) {
    Close();
    m_kind = kind;
    m_format = format;
    m_strPath = path;
    m_nDataBytes = 0;
    m_bShared = false;
    m_file = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
        return Result::OpenFailed;
    }
    m_buffer = static_cast<char*>(std::malloc(kStreamBuffer));
    if (m_buffer != nullptr) {
        std::setvbuf(m_file, m_buffer, _IOFBF, kStreamBuffer);
    }
    // Until the end patches it, the header describes a file without data.
    const std::vector<uint8_t> header =
        kind == WavHeaderKind::Classic
            ? std::vector<uint8_t>(kHeaderTemplate.begin(), kHeaderTemplate.end())
            : WavHeader::Modern(format, 0);
    if (std::fwrite(header.data(), header.size(), 1, m_file) != 1) {
        Close();
        return Result::HeaderFailed;
    }
    m_nHeaderBytes = static_cast<int64_t>(header.size());
    m_bAsync = m_async.Start(m_file);
    return Result::Ok;
}

WavWriter::Result WavWriter::WriteWavData(const uint8_t* buffer, size_t count,
                                          uint16_t blockAlign) {
    if (m_file == nullptr) {
        return Result::WriteFailed;
    }
    Result result = Result::Ok;
    // RF64 takes a modern file past the RIFF limit.
    if (m_kind == WavHeaderKind::Classic &&
        static_cast<int64_t>(count) > m_nMaxDataBytes - m_nDataBytes) {
        const int64_t room = m_nMaxDataBytes - m_nDataBytes;
        const int64_t align = blockAlign == 0 ? 1 : blockAlign;
        count = static_cast<size_t>(room - room % align);
        result = Result::SizeLimit;
    }
    bool written = false;
    if (buffer == nullptr) {
        written = m_bAsync ? m_async.Skip(count)
                           : std::fseek(m_file, static_cast<long>(count), SEEK_CUR) == 0;
    } else {
        written = m_bAsync ? m_async.Write(buffer, count)
                           : std::fwrite(buffer, 1, count, m_file) == count;
    }
    if (count > 0 && !written) {
        return Fail();
    }
    m_nDataBytes += static_cast<int64_t>(count);
    return result;
}

int WavWriter::ShareData(int64_t& dataOffset, int& readFd) {
    readFd = -1;
    struct stat st {};
    if (m_file == nullptr || fstat(fileno(m_file), &st) != 0 || !S_ISREG(st.st_mode)) {
        return -1;
    }
    readFd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat back {};
    if (readFd < 0 || fstat(readFd, &back) != 0 || back.st_dev != st.st_dev ||
        back.st_ino != st.st_ino) {
        if (readFd >= 0) {
            close(readFd);
        }
        readFd = -1;
        return -1;
    }
    m_bShared = true;
    dataOffset = m_nHeaderBytes;
    return fileno(m_file);
}

bool WavWriter::CutHere() {
    if (!m_bShared) {
        return true;
    }
    const long end = std::ftell(m_file);
    return end >= 0 && std::fflush(m_file) == 0 && ftruncate(fileno(m_file), end) == 0;
}

bool WavWriter::PatchAt(long offset, const void* bytes, size_t size) {
    return std::fseek(m_file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, size, m_file) == size;
}

bool WavWriter::WriteTrailing(const std::vector<uint8_t>& trailing) {
    const uint8_t pad = 0;
    if (trailing.empty()) {
        return true;
    }
    return ((m_nDataBytes & 1) == 0 || std::fwrite(&pad, 1, 1, m_file) == 1) &&
           std::fwrite(trailing.data(), 1, trailing.size(), m_file) == trailing.size();
}

WavWriter::Result WavWriter::FinishWavFile(const AudioFormat& format,
                                           const std::vector<uint8_t>& trailing) {
    if (m_file == nullptr) {
        return Result::WriteFailed;
    }
    if (m_kind == WavHeaderKind::Modern) {
        return FinishModern(trailing);
    }
    uint8_t dataSize[4];
    uint8_t riffSize[4];
    uint8_t fmt[16];
    const int64_t extra =
        trailing.empty() ? 0 : static_cast<int64_t>(trailing.size()) + (m_nDataBytes & 1);
    PutLe32(dataSize, static_cast<uint32_t>(m_nDataBytes));
    PutLe32(riffSize, static_cast<uint32_t>(m_nDataBytes + 36 + extra));
    PutLe16(fmt + 0, format.wFormatTag);
    PutLe16(fmt + 2, format.nChannels);
    PutLe32(fmt + 4, format.nSamplesPerSec);
    PutLe32(fmt + 8, format.nAvgBytesPerSec);
    PutLe16(fmt + 12, format.nBlockAlign);
    PutLe16(fmt + 14, format.wBitsPerSample);
    if (m_bAsync) {
        m_bAsync = false;
        if (!m_async.Finish()) {
            return Fail();
        }
    }
    if (!WriteTrailing(trailing) || !CutHere()) {
        return Fail();
    }
    // A failed seek would put the patch in the wrong place: it counts as a failed write.
    if (!PatchAt(40, dataSize, 4) || !PatchAt(4, riffSize, 4) || !PatchAt(20, fmt, 16)) {
        return Fail();
    }
    return CloseChecked();
}

WavWriter::Result WavWriter::FinishModern(const std::vector<uint8_t>& trailing) {
    if (m_bAsync) {
        m_bAsync = false;
        if (!m_async.Finish()) {
            return Fail();
        }
    }
    // The data chunk ends on an even offset, as RIFF chunks do.
    const uint8_t pad = 0;
    if ((m_nDataBytes & 1) != 0 && std::fwrite(&pad, 1, 1, m_file) != 1) {
        return Fail();
    }
    if (!trailing.empty() &&
        std::fwrite(trailing.data(), 1, trailing.size(), m_file) != trailing.size()) {
        return Fail();
    }
    if (!CutHere()) {
        return Fail();
    }
    const std::vector<uint8_t> header =
        WavHeader::Modern(m_format, static_cast<uint64_t>(m_nDataBytes), trailing.size());
    if (!PatchAt(0, header.data(), header.size())) {
        return Fail();
    }
    return CloseChecked();
}

WavWriter::Result WavWriter::CloseChecked() {
    // The buffered data only reaches the disk here: a failed close is a failed write.
    if (std::fflush(m_file) != 0) {
        return Fail();
    }
    struct stat written {};
    const bool haveWritten = fstat(fileno(m_file), &written) == 0;
    // A file whose folder was removed while it was written is lost, though every
    // write succeeded: that is a failed write too.
    struct stat now {};
    const bool stillThere = haveWritten && stat(m_strPath.c_str(), &now) == 0 &&
                            now.st_dev == written.st_dev && now.st_ino == written.st_ino;
    if (!Close() || !stillThere) {
        return Result::WriteFailed;
    }
    return Result::Ok;
}
