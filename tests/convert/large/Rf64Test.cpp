// A WAV past 4 GB: with the modern header the file becomes RF64, with the header that
// ffmpeg writes for the same stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "TestMedia.h"

namespace {

class OutcomeObserver : public JobObserver {
  public:
    void OnJobRunning() override {}
    void OnJobProgress(int) override {}
    void OnJobNotice(const JobNotice&) override {}
    void OnJobFinished(const JobOutcome& o) override { m_done.set_value(o); }
    JobOutcome Wait() { return m_done.get_future().get(); }

  private:
    std::promise<JobOutcome> m_done;
};

std::vector<uint8_t> Head(const std::string& path, size_t n) {
    std::vector<uint8_t> bytes(n);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
}

}  // namespace

TEST(Rf64, PastFourGigabytesTheModernHeaderBecomesFfmpegsRf64) {
    TestMedia media;
    // 940 s of 7.1 silence at 192 kHz, 24-bit: 4.33 GB of PCM from half a megabyte.
    const std::string in =
        media.Make("silence.flac",
                   "-f lavfi -i anullsrc=r=192000:cl=7.1 -t 940 -c:a flac "
                   "-compression_level 0 -sample_fmt s32 -bits_per_raw_sample 24");
    const std::string ours = media.Path("ours.wav");
    OutcomeObserver observer;
    {
        ConversionJob job([] { return std::make_unique<FfmpegAudioSource>(); }, observer);
        ConversionRequest request;
        request.mediaPath = in;
        request.outputPath = ours;
        request.rtEnd = ConversionRequest::kToEndOfStream;
        request.header = WavHeaderKind::Modern;
        ASSERT_TRUE(job.Start(request));
        const JobOutcome outcome = observer.Wait();
        EXPECT_EQ(outcome.status, JobOutcome::Status::Completed);
        EXPECT_EQ(outcome.dataBytes, 940LL * 192000 * 8 * 3);
    }
    const uint64_t ourSize = std::filesystem::file_size(ours);
    const std::vector<uint8_t> ourHead = Head(ours, 104);
    std::filesystem::remove(ours);  // the disk holds one such file at a time

    const std::string theirs = media.Make(
        "theirs.wav",
        "-i " + ShellQuote(in) + " -map_metadata -1 -c:a pcm_s24le -rf64 auto -fflags +bitexact");
    EXPECT_EQ(ourSize, std::filesystem::file_size(theirs));
    EXPECT_EQ(ourHead, Head(theirs, 104));
    std::filesystem::remove(theirs);

    // What the header says, read back: RF64, and 64-bit sizes in the ds64 chunk.
    ASSERT_EQ(ourHead.size(), 104u);
    EXPECT_EQ(std::string(ourHead.begin(), ourHead.begin() + 4), "RF64");
    EXPECT_EQ(std::string(ourHead.begin() + 12, ourHead.begin() + 16), "ds64");
    EXPECT_EQ(Le64(&ourHead[20]), ourSize - 8);
    EXPECT_EQ(Le64(&ourHead[28]), ourSize - 104);
    EXPECT_EQ(Le64(&ourHead[36]), 940ULL * 192000);
    EXPECT_EQ(std::string(ourHead.begin() + 96, ourHead.begin() + 100), "data");
}
