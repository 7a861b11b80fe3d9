#include "SoakWav.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

std::string SoakWav::Read(const std::string& path, SoakWav* wav) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "cannot be read";
    }
    wav->bytes.assign(std::istreambuf_iterator<char>(in), {});
    const std::vector<uint8_t>& b = wav->bytes;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        return "is no RIFF WAVE file";
    }
    if (U32(b, 4) != b.size() - 8) {
        return "has a RIFF size of " + std::to_string(U32(b, 4)) + " for " +
               std::to_string(b.size()) + " bytes";
    }
    // Chunks up to the data, which runs to the end of the file.
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = U32(b, at + 4);
        if (std::memcmp(b.data() + at, "data", 4) == 0) {
            wav->dataAt = at + 8;
            wav->dataSize = size;
            // An odd size is followed by a pad byte in the modern header; the classic one
            // ends the file with the data.
            const size_t rest = b.size() - wav->dataAt;
            if (size != rest && size + (size & 1) != rest) {
                return "has a data size of " + std::to_string(size) + " for " +
                       std::to_string(b.size() - wav->dataAt) + " bytes";
            }
            break;
        }
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 8 + size <= b.size()) {
            wav->fmtAt = at + 8;
            wav->fmtSize = size;
        }
        at += 8 + size + (size & 1);
    }
    if (wav->fmtAt == 0 || wav->dataAt == 0) {
        return "has no fmt or no data chunk";
    }
    const size_t f = wav->fmtAt;
    wav->formatTag = U16(b, f);
    // WAVE_FORMAT_EXTENSIBLE names the format in the first bytes of its sub-format.
    if (wav->formatTag == 0xFFFE && wav->fmtSize >= 26) {
        wav->formatTag = U16(b, f + 24);
    }
    wav->channels = U16(b, f + 2);
    wav->rate = U32(b, f + 4);
    wav->blockAlign = U16(b, f + 12);
    wav->bits = U16(b, f + 14);
    if (wav->blockAlign == 0 || U32(b, f + 8) != wav->rate * wav->blockAlign ||
        wav->DataBytes() % wav->blockAlign != 0) {
        return "has a byte rate or block align that does not fit, or a part of a frame";
    }
    return "";
}

std::string SoakCommandPath() {
    const QString dir = qEnvironmentVariable("ORVANE_BIN_DIR");
    return ((dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir) + "/orvane-extract")
        .toStdString();
}

std::string SecondsText(int64_t rt) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%07lld", static_cast<long long>(rt / 10'000'000),
                  static_cast<long long>(rt % 10'000'000));
    return text;
}

std::string RunSoakCommand(const SoakCut& cut, const std::string& output) {
    static const char* const kFormats[] = {"auto", "s16", "s24", "s32", "f32"};
    QStringList args = {"-q", "-y",
                        "-s", QString::fromStdString(SecondsText(cut.start)),
                        "-e", QString::fromStdString(SecondsText(cut.end)),
                        "-a", QString::number(cut.track),
                        "-f", kFormats[cut.format],
                        "-w", cut.modern ? "modern" : "classic"};
    if (!cut.exactEnd) {
        args << "--whole-buffers";
    }
    args << QString::fromStdString(cut.media) << QString::fromStdString(output);
    QProcess command;
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(QString::fromStdString(SoakCommandPath()), args);
    // Under the sanitizers the long clip takes its time.
    if (!command.waitForFinished(120'000) || command.exitStatus() != QProcess::NormalExit ||
        command.exitCode() != 0) {
        command.kill();
        command.waitForFinished(1000);
        return "orvane-extract " + args.join(' ').toStdString() + " failed (" +
               std::to_string(command.exitCode()) +
               "): " + command.readAll().trimmed().toStdString();
    }
    return "";
}

int64_t SoakCutBytes(int64_t start, int64_t end, uint32_t rate, uint16_t blockAlign,
                     bool exactEnd) {
    if (end <= start) {
        return 0;
    }
    if (exactEnd) {
        // The frame nearest to a mark, halves rounded away from zero.
        const auto frame = [rate](int64_t rt) {
            const __int128 scaled = static_cast<__int128>(rt) * rate * 2;
            return static_cast<int64_t>((scaled + 10'000'000) / 20'000'000);
        };
        return (frame(end) - frame(start)) * blockAlign;
    }
    const auto span =
        static_cast<int64_t>(static_cast<__int128>(end - start) * rate * blockAlign / 10'000'000);
    const int64_t buffers = std::max<int64_t>((span + 4999) / 5000, 1);
    return buffers * 5000 - buffers * 5000 % blockAlign;
}

bool SoakWholeBuffers(int64_t bytes, uint16_t blockAlign) {
    const int64_t buffers = (bytes + 4999) / 5000;
    return buffers * 5000 - buffers * 5000 % blockAlign == bytes;
}
