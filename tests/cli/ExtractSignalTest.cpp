#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "ChildProcess.h"
#include "TestMedia.h"
#include "WavFile.h"

using namespace std::chrono_literals;

namespace {

// Whether the start of the sound has reached data offset `at`. Not the file's size: a
// conversion in sections writes its later sections into their places first.
bool Reached(const std::string& path, const WavFile& full, size_t at) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> got(5000);
    return in.seekg(static_cast<std::streamoff>(44 + at)) && in.read(got.data(), 5000) &&
           std::equal(got.begin(), got.end(), full.Data() + at,
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

}  // namespace

// Ctrl-C and SIGTERM act as the Stop button: the file written so far is finished
// and valid, it holds whole buffers from the start of the sound, and the status is 130.
TEST(ExtractSignalTest, SignalStopsTheConversionWithAValidFile) {
    TestMedia media;
    // Two minutes: the signal comes after about 6 s of it, well before the end even
    // under the sanitizers.
    const std::string input = media.Make("long.mp2", TestMedia::Tones(120, 48000) + " -c:a mp2");
    // The whole conversion, to compare the stopped ones with.
    const std::string whole = media.Path("whole.wav");
    ASSERT_EQ(ChildProcess::Run({Bin(), "-q", input, whole}).status, 0);
    const WavFile full = WavFile::Read(whole);
    ASSERT_TRUE(full.Valid());
    for (int signal : {SIGINT, SIGTERM}) {
        const std::string out = media.Path("stopped-" + std::to_string(signal) + ".wav");
        ChildProcess child;
        ASSERT_TRUE(child.Start({Bin(), "-q", input, out}));
        ASSERT_TRUE(child.WaitUntil([&] { return Reached(out, full, 1'100'000); }, 60s))
            << "no output appeared: " << child.Err();
        ASSERT_TRUE(child.Signal(signal));
        const auto r = child.Wait(60s);
        ASSERT_TRUE(r) << "the command did not stop";
        EXPECT_EQ(r->status, 130) << r->err;
        const WavFile wav = WavFile::Read(out);
        ASSERT_TRUE(wav.Valid()) << "signal " << signal;
        EXPECT_EQ(wav.DataBytes() % 5000, 0u);
        EXPECT_GE(wav.DataBytes(), 1'000'000u);
        ASSERT_LT(wav.DataBytes(), full.DataBytes());
        // What was written is the start of the sound, unchanged.
        EXPECT_TRUE(std::equal(wav.Data(), wav.Data() + wav.DataBytes(), full.Data()));
    }
}
