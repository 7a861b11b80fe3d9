#include "SoakWav.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Runs the command with its output merged, by posix_spawn rather than a fork: the thread
// sanitizer lets no forked child of a threaded program start, and Qt's QProcess forks.
// False when it cannot be started or takes longer than two minutes (the long clip under the
// sanitizers takes its time); status is its exit code, or -1.
bool Run(const std::string& program, const QStringList& arguments, std::string& output,
         int& status) {
    std::vector<std::string> words = {program};
    for (const QString& a : arguments) {
        words.push_back(a.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    status = -1;
    if (spawned != 0) {
        close(pipeFds[0]);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    bool timedOut = false;
    for (;;) {
        pollfd fd = {pipeFds[0], POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;  // the command closed its output: it has ended
            }
            output.append(buffer, static_cast<size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    close(pipeFds[0]);
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid || timedOut || !WIFEXITED(wstatus)) {
        return false;
    }
    status = WEXITSTATUS(wstatus);
    return true;
}

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
    std::string said;
    int status = 0;
    if (!Run(SoakCommandPath(), args, said, status) || status != 0) {
        return "orvane-extract " + args.join(' ').toStdString() + " failed (" +
               std::to_string(status) +
               "): " + QString::fromStdString(said).trimmed().toStdString();
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
