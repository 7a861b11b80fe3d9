// The silence search's hand-over from its thread to the GUI thread: the result of the last
// search only, none after a stop, and a search given up when its owner goes.
#include <gtest/gtest.h>

#include <memory>

#include "FfmpegAudioSource.h"
#include "SilenceSearch.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WaitFor.h"
#include "WaveformPyramid.h"

namespace {

// Sound, 3 s of silence, sound: 9 s at 8 kHz, mono.
struct Gaps {
    Gaps() {
        path = media.Make("gaps.wav",
                          "-f lavfi -i \"aevalsrc='if(between(t,3,6),0,0.5*sin(2*PI*440*t))':"
                          "s=8000:d=9\" -c:a pcm_s16le");
        waveform->SetSampleRate(8000);
        std::vector<float> mixed;
        for (int16_t s : TestMedia::DecodeS16(path)) {
            mixed.push_back(s / 32768.0f);
        }
        waveform->Append(mixed.data(), mixed.size());
        waveform->Finish();
    }
    TestMedia media;
    std::string path;
    std::shared_ptr<WaveformPyramid> waveform = std::make_shared<WaveformPyramid>();
};

}  // namespace

TEST(SilenceSearch, OnlyTheLastSearchAnswersAndAStoppedOneNever) {
    Gaps gaps;
    SilenceSearch search(FfmpegAudioSource::Factory());
    std::vector<std::vector<Segment>> answers;
    QObject::connect(&search, &SilenceSearch::found,
                     [&](const std::vector<Segment>& s) { answers.push_back(s); });
    SilenceFinder::Settings longer;
    longer.minimumLength = 5000 * kMs;  // no silence is that long
    search.Start(gaps.path, 1, gaps.waveform, longer, 9000 * kMs);
    search.Start(gaps.path, 1, gaps.waveform, {}, 9000 * kMs);
    ASSERT_TRUE(WaitFor([&] { return !search.Busy(); }));
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0].size(), 2u);
    EXPECT_NEAR(static_cast<double>(answers[0][0].end), 3250 * kMs, kMs);
    EXPECT_NEAR(static_cast<double>(answers[0][1].start), 5750 * kMs, kMs);

    search.Start(gaps.path, 1, gaps.waveform, {}, 9000 * kMs);
    search.Stop();
    EXPECT_FALSE(search.Busy());
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(answers.size(), 1u);

    // A source that cannot be read says why; an owner that goes takes its search with it.
    std::string why;
    QObject::connect(&search, &SilenceSearch::failed,
                     [&](const QString& text) { why = text.toStdString(); });
    search.Start(gaps.media.Path("gone.wav"), 1, gaps.waveform, {}, 9000 * kMs);
    ASSERT_TRUE(WaitFor([&] { return !why.empty(); }));
    auto doomed = std::make_unique<SilenceSearch>(FfmpegAudioSource::Factory());
    doomed->Start(gaps.path, 1, gaps.waveform, {}, 9000 * kMs);
    doomed.reset();
}
