// Where the first sample of a cut lies in the signal that was encoded, for every lossy
// codec: within a millisecond of the mark.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "EngineSamples.h"
#include "FfmpegAudioSource.h"
#include "TestMedia.h"

namespace {

// Band-limited noise survives lossy coding well enough to be found again by correlation.
std::string Noise(int rate) {
    return "-f lavfi -i \"anoisesrc=c=pink:r=" + std::to_string(rate) +
           ":a=0.3:d=9:seed=7,lowpass=f=6000\" -ac 1";
}

std::vector<float> AsFloat(const std::vector<int16_t>& s) {
    std::vector<float> f(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        f[i] = s[i] / 32768.0f;
    }
    return f;
}

// The engine's mono samples from rtStart on, n of them.
std::vector<float> Cut(const std::string& path, int64_t rtStart, size_t n) {
    return AsFloat(EngineSamples(path, rtStart, n));
}

// The lag of piece against signal around `at`: where in the signal the piece fits
// best, minus at.
int Lag(const std::vector<float>& signal, const std::vector<float>& piece, size_t at, int range) {
    double best = -1e30;
    int bestLag = 0;
    for (int lag = -range; lag <= range; ++lag) {
        const long start = static_cast<long>(at) + lag;
        if (start < 0 ||
            start + static_cast<long>(piece.size()) > static_cast<long>(signal.size())) {
            continue;
        }
        double sum = 0;
        for (size_t i = 0; i < piece.size(); ++i) {
            sum += static_cast<double>(piece[i]) * signal[static_cast<size_t>(start) + i];
        }
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag;
}

}  // namespace

TEST(CutAlignment, EveryLossyCodecStartsAtTheMarkedSampleOfTheSource) {
    TestMedia media;
    struct Case {
        const char* name;
        int rate;
        const char* args;
    };
    const Case cases[] = {
        {"mp2.mpg", 44100, "-c:a mp2 -f mpeg"},  {"mp2.ts", 48000, "-c:a mp2"},
        {"mp3.mp3", 44100, "-c:a libmp3lame"},   {"mp3.mkv", 44100, "-c:a libmp3lame"},
        {"ac3.vob", 48000, "-c:a ac3 -f vob"},   {"eac3.mkv", 48000, "-c:a eac3"},
        {"aac.m4a", 44100, "-c:a aac"},          {"aac.aac", 44100, "-c:a aac"},
        {"aac.ts", 48000, "-c:a aac"},           {"vorbis.ogg", 44100, "-c:a libvorbis"},
        {"vorbis.mkv", 44100, "-c:a libvorbis"}, {"opus.ogg", 48000, "-c:a libopus"},
        {"opus.webm", 48000, "-c:a libopus"},    {"wmav2.asf", 44100, "-c:a wmav2"},
        {"wmav2.wma", 22050, "-c:a wmav2"},      {"wmav1.wma", 32000, "-c:a wmav1"},
    };
    std::map<int, std::vector<float>> sources;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!sources.count(c.rate)) {
            const std::string wav = media.Make("source" + std::to_string(c.rate) + ".wav",
                                               Noise(c.rate) + " -c:a pcm_s16le");
            sources[c.rate] = AsFloat(TestMedia::DecodeS16(wav));
        }
        const std::string in = media.Make(
            c.name, "-i " + ShellQuote(media.Path("source" + std::to_string(c.rate) + ".wav")) +
                        " " + c.args);
        const int tolerance = c.rate / 1000;  // a millisecond
        for (double seconds : {3.0, 6.25}) {
            SCOPED_TRACE(seconds);
            const size_t at = static_cast<size_t>(std::llround(seconds * c.rate));
            const std::vector<float> cut =
                Cut(in, static_cast<int64_t>(seconds * 10'000'000), 2048);
            ASSERT_EQ(cut.size(), 2048u);
            EXPECT_LE(std::abs(Lag(sources[c.rate], cut, at, 2600)), tolerance);
        }
    }
}
