// Small files made to cost the engine memory, time or file handles: each fails at once
// with a reason, or is read only as far as the limits allow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "FfmpegAudioSource.h"
#include "HostileFiles.h"
#include "LibavLimits.h"
#include "TestMedia.h"

namespace {

size_t OpenFileCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

// Bytes this process has read so far, from /proc; -1 where the kernel does not tell.
long long BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

}  // namespace

TEST(HostileInput, FailsAtOnceWithAReasonAndLittleMemory) {
    LibavLimits::Apply();
    TestMedia media;
    struct Row {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* reason;
    };
    const Row rows[] = {
        {"lying.wav", HostileFiles::WriteLyingWav,
         "cannot open the file: Invalid data found when processing input"},
        // A list that names itself: each entry would open the list again.
        {
            "self.ffconcat",
            [](const std::string& path) {
                std::ofstream(path)
                    << "ffconcat version 1.0\nfile self.ffconcat\nfile self.ffconcat\n";
            },
            "cannot open the file: Invalid argument"},
        {"fast.wav",
         [](const std::string& path) {
             HostileFiles::WriteWavHeader(path, 2, 2'000'000'000, 16, 4000);
         },
         "the audio stream claims 2000000000 samples a second; at most 10000000 can be converted"},
        {"wide.wav",
         [](const std::string& path) {
             HostileFiles::WriteWavHeader(path, 512, 4'000'000, 16, 1024 * 8);
         },
         "the audio stream's 512 channels at 4000000 Hz are more than a WAV header can state"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = media.Path(row.name);
        row.make(path);
        const long peakBefore = HostileFiles::PeakResidentKib();
        const size_t filesBefore = OpenFileCount();

        FfmpegAudioSource source;
        int64_t duration = 0;
        const bool probed = source.GetMediaDuration(path, duration);
        int r = source.OpenAudioStream(path);
        AudioFormat format;
        if (r == 0) {
            EXPECT_TRUE(probed);
            r = source.PrepareAudioSample(format);
        } else {
            EXPECT_FALSE(probed);
        }
        EXPECT_LT(r, 0);
        EXPECT_EQ(source.LastError(), row.reason);
        source.Release();

        EXPECT_EQ(OpenFileCount(), filesBefore);
        // The lying WAV alone took 1.6 GB without the cap.
        EXPECT_LT(HostileFiles::PeakResidentKib() - peakBefore, 64 * 1024);
    }
}

TEST(HostileInput, OpeningReadsABoundedPartOfAHugeFile) {
    // A second of MPEG program stream and then a gigabyte of zeros (a hole, so it costs
    // no disk): the demuxer scans for the next start code, through the whole file if it
    // may. Opening stops at the read budget; the sound at the start still converts.
    TestMedia media;
    const std::string path =
        media.Make("zeros.mpg", "-f lavfi -i sine=d=1:r=44100 -c:a mp2 -f mpeg");
    std::filesystem::resize_file(path, std::uintmax_t{1} << 30);
    if (BytesRead() < 0) {
        GTEST_SKIP() << "/proc/self/io is not readable here";
    }
    const long long before = BytesRead();
    FfmpegAudioSource source;
    int64_t duration = -1;
    ASSERT_TRUE(source.GetMediaDuration(path, duration));
    const long long read = BytesRead() - before;
    EXPECT_LT(read, LibavLimits::kMaxOpenBytes + (8 << 20));
    EXPECT_GT(read, 0);
    std::printf("[ probe    ] %lld bytes read to open a 1 GiB file\n", read);

    ASSERT_EQ(source.OpenAudioStream(path), 0) << source.LastError();
    AudioFormat format;
    ASSERT_EQ(source.PrepareAudioSample(format), 0);
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    ASSERT_GT(source.FillAudioBuffer(buffer), 0);
}
