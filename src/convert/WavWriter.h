#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AsyncFileWriter.h"
#include "AudioFormat.h"
#include "WavHeader.h"

// Writes a RIFF/WAVE file: the placeholder header first, the PCM data as it arrives,
// then the real sizes (and, for the classic header, the format) patched in at the end.
// The classic header is the canonical 44 bytes; the modern one is ffmpeg's, which
// turns the file into RF64 when it passes 4 GB.
class WavWriter {
  public:
    static constexpr size_t kHeaderSize = 44;
    static const std::array<uint8_t, kHeaderSize> kHeaderTemplate;
    // The most data a RIFF file can describe: its 32-bit size field holds data + 36.
    static constexpr int64_t kMaxDataBytes = 0xFFFFFFFFLL - 36;

    // What a call did. A failure leaves the file closed; the caller tells the user.
    enum class Result { Ok, OpenFailed, HeaderFailed, WriteFailed, SizeLimit };

    explicit WavWriter(int64_t maxDataBytes = kMaxDataBytes);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    Result BeginWavFile(const std::string& path);
    // A modern header needs the format at once: its layout depends on it.
    Result BeginWavFile(const std::string& path, WavHeaderKind kind, const AudioFormat& format);
    // Appends count bytes. At the RIFF limit only the whole sample frames that still
    // fit are written and SizeLimit is returned; the file stays open to be finished.
    // A null buffer: the bytes are already in place (written beside this writer).
    Result WriteWavData(const uint8_t* buffer, size_t count, uint16_t blockAlign = 1);
    // Patches the header in. `trailing` holds whole chunks to follow the data chunk (a
    // segment's place in its source, cue points and their labels), where RIFF readers
    // look for such chunks too; the data is then padded to an even length.
    Result FinishWavFile(const AudioFormat& format, const std::vector<uint8_t>& trailing = {});

    int64_t DataBytes() const { return m_nDataBytes; }

    // For writers that put parts of the data in place beside this one (with pwrite): the
    // open file's descriptor, a new one to read it back with (the caller's to close) and
    // where its data begins; -1 when the output is not a regular file that can be read
    // back. The file is then cut at the end of this writer's data when finished.
    int ShareData(int64_t& dataOffset, int& readFd);

  private:
    bool PatchAt(long offset, const void* bytes, size_t size);
    Result FinishModern(const std::vector<uint8_t>& trailing);
    // The pad byte and the chunks after the data; false when that failed.
    bool WriteTrailing(const std::vector<uint8_t>& trailing);
    // Drops what others wrote past this writer's end; false when that failed.
    bool CutHere();
    // Flushes and closes, checking that the file is still where it was written.
    Result CloseChecked();
    // Closes the file; false when the close (and so the last flush) failed.
    bool Close();
    Result Fail();

    int64_t m_nMaxDataBytes;
    std::string m_strPath;
    FILE* m_file = nullptr;
    // Data goes through the writer thread; header and patches are written directly.
    AsyncFileWriter m_async;
    bool m_bAsync = false;
    char* m_buffer = nullptr;
    int64_t m_nDataBytes = 0;
    int64_t m_nHeaderBytes = 0;
    bool m_bShared = false;
    WavHeaderKind m_kind = WavHeaderKind::Classic;
    AudioFormat m_format;
};
