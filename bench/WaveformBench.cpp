// How soon the waveform of a file shows and how long the whole of it takes, as the panel
// computes it: on opening, the file is probed while its waveform is built on threads of
// its own. "first" is the time from the open until the probe has answered and the first
// column of an 800-column view of the whole file is known; "whole" until the waveform is
// complete.
//
//   waveform_bench FILE      prints: first_ms whole_s
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "FfmpegAudioSource.h"
#include "LibavLimits.h"
#include "MediaTime.h"
#include "WaveformBuilder.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: waveform_bench FILE\n");
        return 2;
    }
    LibavLimits::Apply();
    using Clock = std::chrono::steady_clock;
    const auto opened = Clock::now();
    WaveformBuilder builder(FfmpegAudioSource::Factory());
    // As the program opens a file: the waveform starts before the file's timeline is known,
    // and the probe answers before its timeline scan, which goes on behind (a file with
    // restarts would then start its waveform again).
    const std::shared_ptr<const WaveformPyramid> waveform =
        builder.Start(argv[1], 0, MediaTimeline());
    std::promise<MediaInfo> early;
    std::future<MediaInfo> earlyInfo = early.get_future();
    std::future<bool> probe = std::async(std::launch::async, [path = argv[1], &early] {
        MediaInfo info;
        bool told = false;
        const bool ok = FfmpegAudioSource().ProbeMediaInSteps(path, info, [&](const MediaInfo& e) {
            early.set_value(e);
            told = true;
        });
        if (!told) {
            early.set_value(ok ? info : MediaInfo{});
        }
        return ok && !info.timeline.HasRestarts();
    });
    const MediaInfo info = earlyInfo.get();
    if (info.duration <= 0) {
        std::fprintf(stderr, "cannot probe %s\n", argv[1]);
        return 1;
    }
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - opened).count(); };
    double first = -1;
    while (!waveform->Complete()) {
        const int rate = waveform->SampleRate();
        const double column =
            static_cast<double>(info.duration) / MediaTime::kUnitsPerSecond * rate / 800;
        if (first < 0 && rate > 0 && static_cast<double>(waveform->Frames()) >= column) {
            first = since();
        }
        if (!builder.Busy()) {
            std::fprintf(stderr, "the waveform of %s did not complete\n", argv[1]);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double whole = since();
    if (!probe.get()) {
        std::fprintf(stderr, "%s has restarts: its waveform would start again\n", argv[1]);
        return 1;
    }
    std::printf("%.0f %.3f\n", (first < 0 ? whole : first) * 1000, whole);
    return 0;
}
