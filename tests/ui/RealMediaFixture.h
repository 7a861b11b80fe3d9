#pragma once

#include "DialogTestFixture.h"
#include "MpvPlaybackEngine.h"
#include "ThreadedMediaProber.h"

// The dialog on the real prober and the real player (libmpv without picture or sound
// output), for tests that go the whole way a user goes.
class RealMediaFixture : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        mediaProber = &realProber;
        engines = [] {
            MpvPlaybackEngine::Options options;
            options.video = MpvPlaybackEngine::VideoOutput::None;
            options.audioOutput = "null";
            return std::make_unique<MpvPlaybackEngine>(options);
        };
    }

    ThreadedMediaProber realProber{FfmpegAudioSource::Factory()};
};
