// A cut from just before a white flash in the picture holds the click that was recorded
// with it, at the flash's time: in files from FFmpeg's muxers and from independent ones,
// in every track of a file.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "EngineSamples.h"
#include "FfmpegAudioSource.h"
#include "ForeignTools.h"
#include "TestMedia.h"
#include "TestUnits.h"

namespace {

constexpr double kFlash = 2.0;  // where the picture flashes and the click sounds
constexpr double kClick = 0.1;  // how long the click (a burst of noise) lasts

struct SyncRow {
    const char* name;
    std::vector<std::string> tools;
    // Makes out.<ext> in the scratch folder from pic.y4m (the flash at frame 50, 25 fps),
    // click44.wav and click48.wav (mono, the click at 2 s).
    const char* script;
    const char* file;
    int rate;
    int tracks = 1;
    double soundOffset = 0;  // the sound was placed this much after the picture
};

std::string FfmpegMux(const char* audio, const char* codecs) {
    return std::string("ffmpeg -nostdin -loglevel error -y -i pic.y4m ") + audio + " " + codecs;
}

const std::string kM2v = "mpeg2enc -v 0 -f 3 -b 2000 -o v.m2v < pic.y4m";
const std::string kGstPicture =
    "gst-launch-1.0 -q filesrc location=pic.y4m ! y4mdec ! videoconvert ! ";

std::string GstSound(const char* wav, const char* chain) {
    return " filesrc location=" + std::string(wav) + " ! wavparse ! audioconvert ! " + chain;
}

const std::vector<SyncRow>& SyncRows() {
    static const std::vector<SyncRow> rows = [] {
        std::vector<SyncRow> r;
        const auto add = [&r](SyncRow row, const std::string& script) {
            static std::vector<std::unique_ptr<std::string>> scripts;
            scripts.push_back(std::make_unique<std::string>(script));
            row.script = scripts.back()->c_str();
            r.push_back(std::move(row));
        };
        // FFmpeg's muxers: the sound's timestamps carry the encoder's delay.
        add({"FfmpegProgramStreamMp2", {}, "", "out.mpg", 44100},
            FfmpegMux("-i click44.wav", "-c:v mpeg1video -c:a mp2 -f mpeg out.mpg"));
        add({"FfmpegVobAc3", {}, "", "out.vob", 48000},
            FfmpegMux("-i click48.wav", "-c:v mpeg2video -c:a ac3 -f vob out.vob"));
        add({"FfmpegTransportStreamAac", {}, "", "out.ts", 48000},
            FfmpegMux("-i click48.wav", "-c:v mpeg2video -c:a aac out.ts"));
        add({"FfmpegMatroskaMp2", {}, "", "out.mkv", 44100},
            FfmpegMux("-i click44.wav", "-c:v mpeg2video -c:a mp2 out.mkv"));
        add({"FfmpegMatroskaAc3", {}, "", "out.mkv", 48000},
            FfmpegMux("-i click48.wav", "-c:v mpeg2video -c:a ac3 out.mkv"));
        add({"FfmpegMatroskaMp3", {}, "", "out.mkv", 44100},
            FfmpegMux("-i click44.wav", "-c:v mpeg2video -c:a libmp3lame out.mkv"));
        add({"FfmpegMatroskaFourTracks", {}, "", "out.mkv", 48000, 4},
            FfmpegMux("-i click48.wav",
                      "-map 0:v -map 1:a -map 1:a -map 1:a -map 1:a -c:v mpeg2video "
                      "-c:a:0 mp2 -c:a:1 ac3 -c:a:2 libmp3lame -c:a:3 aac out.mkv"));
        add({"FfmpegMp4Aac", {}, "", "out.mp4", 44100},
            FfmpegMux("-i click44.wav", "-c:v mpeg4 -c:a aac out.mp4"));
        // An edit list that starts the sound half a second after the picture.
        add({"FfmpegMp4AacOffset", {}, "", "out.mp4", 44100, 1, 0.5},
            FfmpegMux("-itsoffset 0.5 -i click44.wav", "-c:v mpeg4 -c:a aac out.mp4"));
        // Independent muxers: mplex starts picture and sound together.
        add({"MplexTwolame", {"mpeg2enc", "twolame", "mplex"}, "", "out.mpg", 48000},
            kM2v +
                " && twolame --quiet -b 128 -m m click48.wav a.mp2 && "
                "mplex -v 0 -f 3 -o out.mpg v.m2v a.mp2");
        add({"MkvmergeLame", {"mpeg2enc", "lame", "mkvmerge"}, "", "out.mkv", 44100},
            kM2v +
                " && lame --quiet -b 128 click44.wav a.mp3 && mkvmerge -q -o out.mkv v.m2v a.mp3");
        add({"MkvmergeVorbis", {"mpeg2enc", "oggenc", "mkvmerge"}, "", "out.mkv", 44100},
            kM2v + " && oggenc -Q click44.wav -o a.ogg && mkvmerge -q -o out.mkv v.m2v a.ogg");
        add({"MkvmergeOpus", {"mpeg2enc", "opusenc", "mkvmerge"}, "", "out.mkv", 48000},
            kM2v + " && opusenc --quiet click48.wav a.opus && mkvmerge -q -o out.mkv v.m2v a.opus");
        add({"MkvmergeThreeTracks",
             {"mpeg2enc", "twolame", "lame", "oggenc", "mkvmerge"},
             "",
             "out.mkv",
             48000,
             3},
            kM2v +
                " && twolame --quiet -b 128 -m m click48.wav a.mp2 && "
                "lame --quiet -b 128 click48.wav a.mp3 && oggenc -Q click48.wav -o a.ogg && "
                "mkvmerge -q -o out.mkv v.m2v a.mp2 a.mp3 a.ogg");
        const std::vector<std::string> gst = {"gst-launch-1.0", "gst:y4mdec", "gst:mpeg2enc"};
        const auto with = [&gst](std::vector<std::string> more) {
            more.insert(more.begin(), gst.begin(), gst.end());
            return more;
        };
        add({"GstreamerTransportStreamTwolame", with({"gst:mpegtsmux", "gst:twolamemp2enc"}), "",
             "out.ts", 48000},
            kGstPicture +
                "mpeg2enc ! mpegvideoparse ! mpegtsmux name=m ! filesink location=out.ts" +
                GstSound("click48.wav", "twolamemp2enc ! mpegaudioparse ! m."));
        add({"GstreamerProgramStreamTwolame", with({"gst:mpegpsmux", "gst:twolamemp2enc"}), "",
             "out.mpg", 48000},
            kGstPicture +
                "mpeg2enc ! mpegvideoparse ! mpegpsmux name=m ! filesink location=out.mpg" +
                GstSound("click48.wav", "twolamemp2enc ! mpegaudioparse ! m."));
        add({"GstreamerMatroskaLame", with({"gst:matroskamux", "gst:lamemp3enc"}), "", "out.mkv",
             44100},
            kGstPicture +
                "mpeg2enc ! mpegvideoparse ! matroskamux name=m ! filesink location=out.mkv" +
                GstSound("click44.wav", "lamemp3enc ! mpegaudioparse ! m."));
        add({"GstreamerWebmVorbis", with({"gst:webmmux", "gst:vp8enc", "gst:vorbisenc"}), "",
             "out.webm", 44100},
            kGstPicture + "vp8enc deadline=1 ! webmmux name=m ! filesink location=out.webm" +
                GstSound("click44.wav", "vorbisenc ! m."));
        return r;
    }();
    return rows;
}

std::vector<float> Floats(const std::vector<int16_t>& s) {
    std::vector<float> f(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        f[i] = s[i] / 32768.0f;
    }
    return f;
}

// Where the click (as encoded) fits best in a piece of sound, in samples, searched within
// `range` of where it belongs.
size_t FindClick(const std::vector<float>& piece, const std::vector<float>& click, size_t near,
                 size_t range) {
    double best = -1e30;
    size_t at = 0;
    for (size_t lag = near > range ? near - range : 0;
         lag <= near + range && lag + click.size() <= piece.size(); ++lag) {
        double sum = 0;
        for (size_t i = 0; i < click.size(); ++i) {
            sum += static_cast<double>(piece[lag + i]) * click[i];
        }
        if (sum > best) {
            best = sum;
            at = lag;
        }
    }
    return at;
}

// The flash's media time as ffmpeg's own decode of the picture gives it: its timestamp
// from the file's start (a start below 0 is the encoders' priming, and media time 0).
double FlashTime(const std::string& path) {
    std::string out;
    const std::string probe =
        "ffprobe -v error -f lavfi -i " + ShellQuote("movie=" + path + ",signalstats") +
        " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of json";
    EXPECT_EQ(RunCommand(probe, &out), 0) << probe;
    std::string format;
    RunCommand("ffprobe -v error -show_entries format=start_time -of json " + ShellQuote(path),
               &format);
    const double start = std::max(
        0.0, std::stod(nlohmann::json::parse(format)["format"]["start_time"].get<std::string>()));
    const nlohmann::json frames = nlohmann::json::parse(out)["frames"];
    for (const auto& frame : frames) {
        if (std::stod(frame["tags"]["lavfi.signalstats.YAVG"].get<std::string>()) > 128) {
            return std::stod(frame["pts_time"].get<std::string>()) - start;
        }
    }
    ADD_FAILURE() << "no flash in " << path;
    return 0;
}

void PrintTo(const SyncRow& row, std::ostream* os) {
    *os << row.name;
}

class AvSync : public testing::TestWithParam<SyncRow> {
  protected:
    static void SetUpTestSuite() {
        s_media = new TestMedia;
        s_media->Make("pic.y4m",
                      "-f lavfi -i color=c=black:s=176x144:r=25:d=4 -vf "
                      "\"drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(n,50)',"
                      "format=yuv420p\" -f yuv4mpegpipe");
        for (const int rate : {44100, 48000}) {
            const std::string name = "click" + std::to_string(rate / 1000) + ".wav";
            s_media->Make(name, "-f lavfi -i \"anoisesrc=c=pink:r=" + std::to_string(rate) +
                                    ":a=0.5:d=4:seed=3,lowpass=f=6000,volume=0:enable='not(" +
                                    "between(t,2,2.1))'\" -ac 1 -bitexact -c:a pcm_s16le");
            const std::vector<float> all = Floats(TestMedia::DecodeS16(s_media->Path(name)));
            s_clicks[rate == 48000] =
                std::vector<float>(all.begin() + static_cast<long>(kFlash * rate),
                                   all.begin() + static_cast<long>((kFlash + kClick) * rate));
        }
    }
    static void TearDownTestSuite() {
        delete s_media;
        s_media = nullptr;
    }

    static TestMedia* s_media;
    static std::vector<float> s_clicks[2];
};

TestMedia* AvSync::s_media = nullptr;
std::vector<float> AvSync::s_clicks[2];

}  // namespace

TEST_P(AvSync, TheCutHoldsTheClickAtTheFlash) {
    const SyncRow& row = GetParam();
    if (const std::string missing = MissingTool(row.tools); !missing.empty()) {
        GTEST_SKIP() << missing << " is not installed";
    }
    // Each row in a folder of its own, beside the shared sources.
    TestMedia media;
    for (const char* source : {"pic.y4m", "click44.wav", "click48.wav"}) {
        std::filesystem::create_symlink(s_media->Path(source), media.Path(source));
    }
    RunInFolder(media, row.script);
    const std::string path = media.Path(row.file);
    ASSERT_TRUE(std::filesystem::exists(path));

    MediaInfo info;
    FfmpegAudioSource prober;
    ASSERT_TRUE(prober.ProbeMedia(path, info)) << prober.LastError();
    ASSERT_EQ(info.tracks.size(), static_cast<size_t>(row.tracks));
    const double flash = FlashTime(path);
    const double before = 0.25;
    const std::vector<float>& click = s_clicks[row.rate == 48000];
    for (int track = 1; track <= row.tracks; ++track) {
        SCOPED_TRACE("track " + std::to_string(track));
        // The preview is shifted by what the probe decided: the cut must agree with it.
        FfmpegAudioSource source;
        ASSERT_EQ(source.OpenAudioStream(path, track), 0) << source.LastError();
        const AudioTrack opened = source.Tracks()[static_cast<size_t>(track - 1)];
        EXPECT_EQ(opened.lead, info.tracks[static_cast<size_t>(track - 1)].lead);
        EXPECT_EQ(opened.leadRule, info.tracks[static_cast<size_t>(track - 1)].leadRule);
        source.Release();

        const int64_t from = std::llround((flash - before) * kSecond);
        const std::vector<float> cut = Floats(EngineSamples(
            path, from, static_cast<size_t>((before + row.soundOffset + 2 * kClick) * row.rate),
            track));
        // Searched within 50 ms of the flash: far wider than any codec's delay.
        const auto expected = static_cast<size_t>((before + row.soundOffset) * row.rate);
        const double at =
            static_cast<double>(FindClick(cut, click, expected, row.rate / 20)) / row.rate;
        EXPECT_NEAR((at - before - row.soundOffset) * 1000, 0.0, 1.0)
            << "ms from the flash at " << flash << " s (" << row.file << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Muxers, AvSync, testing::ValuesIn(SyncRows()),
                         [](const testing::TestParamInfo<SyncRow>& info) {
                             return std::string(info.param.name);
                         });
