#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "HostileFiles.h"
#include "OrvaneVersion.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Media shared by the cases: made once, with signals whose samples are known.
class ExtractRunTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_media = std::make_unique<TestMedia>();
        // Lossless, so that every sample written can be checked against ffmpeg's decode.
        s_flac =
            s_media->Make("tones.flac", TestMedia::Tones(3, 44100) + " -c:a flac -sample_fmt s16");
        s_videoOnly =
            s_media->Make("movie.mpg", "-f lavfi -i testsrc=d=1:size=160x120 -c:v mpeg1video");
        s_pcm24 = s_media->Make("deep.wav",
                                TestMedia::Tones(1.5, 48000) + " -c:a pcm_s24le -ar 48000 -ac 2");
        s_aac = s_media->Make("song.m4a", TestMedia::Tones(2, 48000) + " -c:a aac -b:a 128k");
        s_flacSamples = TestMedia::DecodeS16(s_flac);
    }
    static void TearDownTestSuite() { s_media.reset(); }

    void SetUp() override { m_dir = std::make_unique<TestMedia>(); }

    std::string Scratch(const std::string& name) const { return m_dir->Path(name); }
    // A copy of a shared file in this case's folder, for cases that write next to it.
    std::string CopyOf(const std::string& source, const std::string& name) const {
        const std::string path = Scratch(name);
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(source, path);
        return path;
    }

    static std::unique_ptr<TestMedia> s_media;
    static std::string s_flac;
    static std::string s_videoOnly;
    static std::string s_pcm24;
    static std::string s_aac;
    static std::vector<int16_t> s_flacSamples;
    std::unique_ptr<TestMedia> m_dir;
};

std::unique_ptr<TestMedia> ExtractRunTest::s_media;
std::string ExtractRunTest::s_flac;
std::string ExtractRunTest::s_videoOnly;
std::string ExtractRunTest::s_pcm24;
std::string ExtractRunTest::s_aac;
std::vector<int16_t> ExtractRunTest::s_flacSamples;

}  // namespace

TEST_F(ExtractRunTest, ConvertsTheWholeStreamToTheDefaultOutputName) {
    const std::string input = CopyOf(s_flac, "tones.flac");
    const ChildProcess::Result r = Extract({input});
    EXPECT_EQ(r.status, 0) << r.err;
    // Not a terminal: no progress line, nothing said on success.
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    const WavFile wav = WavFile::Read(Scratch("tones.wav"));
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.rate, 44100u);
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.bits, 16u);
    EXPECT_EQ(wav.Samples16(), s_flacSamples);
}

TEST_F(ExtractRunTest, MarksCutTheSpanExactlyOrInWholeBuffers) {
    // A mono 48 kHz stream, where a whole last buffer runs furthest past the end mark.
    const std::string mono =
        m_dir->Make("mono.flac", "-f lavfi -i sine=f=700:r=48000:d=26 -c:a flac -sample_fmt s16");
    const std::vector<int16_t> monoSamples = TestMedia::DecodeS16(mono);
    const struct {
        std::vector<std::string> args;
        const std::string* input;
        const std::vector<int16_t>* samples;
        size_t first;  // the sample frame at the start mark, all channels
        uint32_t bytes;
    } rows[] = {
        // Exactly the frames from the start mark's up to the end mark's.
        {{"-s", "0.5", "-e", "0:01.5"}, &s_flac, &s_flacSamples, 22050 * 2, 176'400},
        {{"-s", "19.5", "-e", "25.25"}, &mono, &monoSamples, 19 * 48000 + 24000, 552'000},
        // As the dialog does: rounded up to whole 5000-byte buffers.
        {{"--whole-buffers", "-s", "0.5", "-e", "0:01.5"},
         &s_flac,
         &s_flacSamples,
         22050 * 2,
         180'000},
        {{"--whole-buffers", "-s", "19.5", "-e", "25.25"},
         &mono,
         &monoSamples,
         19 * 48000 + 24000,
         555'000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args.back());
        const std::string out = Scratch("cut.wav");
        std::vector<std::string> args = {"-q", "-y"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back(*row.input);
        args.push_back(out);
        const ChildProcess::Result r = Extract(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const WavFile wav = WavFile::Read(out);
        ASSERT_TRUE(wav.Valid());
        EXPECT_EQ(wav.DataBytes(), row.bytes);
        const std::vector<int16_t> samples = wav.Samples16();
        ASSERT_GE(row.samples->size(), row.first + samples.size());
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), row.samples->begin() + row.first));
    }
}

TEST_F(ExtractRunTest, StartMarkAfterTheEndGivesAnEmptyWavAndAWarning) {
    const std::string out = Scratch("empty.wav");
    const ChildProcess::Result r = Extract({"-s", "0:10", s_flac, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: no sound was written to " + out +
                         " (the start mark lies at or after the end of the sound)\n");
    const WavFile wav = WavFile::Read(out);
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.DataBytes(), 0u);
}

TEST_F(ExtractRunTest, MarksNotInOrderAreRefusedBeforeAnythingIsWritten) {
    const std::string out = Scratch("never.wav");
    for (const auto& marks : std::vector<std::pair<std::string, std::string>>{
             {"2", "1"}, {"1", "1"}, {"0:02", "1.9999999"}}) {
        const ChildProcess::Result r =
            Extract({"-s", marks.first, "-e", marks.second, s_flac, out});
        EXPECT_EQ(r.status, 2) << marks.first << " " << marks.second;
        EXPECT_EQ(r.err, "Error: The Start Time is bigger than the End Time!\n");
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(ExtractRunTest, UsageErrorsEndWithStatusTwo) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--bogus", s_flac},
                                               {"-s", "1:2:3:4", s_flac},
                                               {"-e", "abc", s_flac},
                                               {s_flac, Scratch("a.wav"), Scratch("b.wav")}}) {
        const ChildProcess::Result r = Extract(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(Scratch("a.wav")));
    const ChildProcess::Result version = Extract({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "orvane-extract " ORVANE_VERSION "\n");
    EXPECT_EQ(Extract({"--help"}).status, 0);
}

TEST_F(ExtractRunTest, ExistingOutputIsReplacedOnlyWithYes) {
    const std::string out = Scratch("old.wav");
    WriteAll(out, "precious");
    // No terminal to ask and no -y: refused, the file untouched.
    const ChildProcess::Result refused = Extract({s_flac, out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Error: " + out + " exists"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadAll(out), "precious");

    const ChildProcess::Result replaced = Extract({"-y", s_flac, out});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(WavFile::Read(out).Valid());
}

TEST_F(ExtractRunTest, AtATerminalTheReplaceQuestionIsAsked) {
    const std::string out = Scratch("old.wav");
    WriteAll(out, "precious");
    const std::string question = out + " exists. Do you want to replace it?";
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start({Bin(), s_flac, out}, true));
        ASSERT_TRUE(
            child.WaitUntil([&] { return child.Err().find(question) != std::string::npos; }, 30s))
            << child.Err();
        child.Type("n\n");
        const auto r = child.Wait(30s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 1);
        EXPECT_EQ(ReadAll(out), "precious");
    }
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start({Bin(), s_flac, out}, true));
        ASSERT_TRUE(
            child.WaitUntil([&] { return child.Err().find(question) != std::string::npos; }, 30s))
            << child.Err();
        child.Type("y\n");
        const auto r = child.Wait(30s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0) << r->err;
        EXPECT_EQ(WavFile::Read(out).Samples16(), s_flacSamples);
        // At a terminal the progress line ends at 100 % and with a newline.
        EXPECT_NE(r->err.find("100.0%  elapsed"), std::string::npos) << r->err;
        EXPECT_EQ(r->err.back(), '\n');
    }
}

TEST_F(ExtractRunTest, QuietAtATerminalShowsNoProgress) {
    ChildProcess child;
    ASSERT_TRUE(child.Start({Bin(), "-q", s_flac, Scratch("quiet.wav")}, true));
    const auto r = child.Wait(30s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->err, "");
}

TEST_F(ExtractRunTest, FileWithoutSoundIsNamedWithTheReasonAndLeavesNoFile) {
    const std::string input = CopyOf(s_videoOnly, "movie.mpg");
    const ChildProcess::Result r = Extract({input});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: cannot convert " + input + ": the file has no audio stream"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(Scratch("movie.wav")));

    // A failed open never destroys an older output, even with -y.
    const std::string old = Scratch("keep.wav");
    WriteAll(old, "older result");
    EXPECT_EQ(Extract({"-y", input, old}).status, 1);
    EXPECT_EQ(ReadAll(old), "older result");
}

TEST_F(ExtractRunTest, MissingOrCorruptInputFailsWithoutOutput) {
    const std::string missing = Scratch("missing.mpg");
    const ChildProcess::Result r1 = Extract({missing});
    EXPECT_EQ(r1.status, 1);
    EXPECT_NE(r1.err.find("Error: cannot convert " + missing + ": "), std::string::npos) << r1.err;
    EXPECT_FALSE(fs::exists(Scratch("missing.wav")));

    const std::string corrupt = Scratch("corrupt.mpg");
    WriteAll(corrupt, std::string(4096, '\x5a'));
    const ChildProcess::Result r2 = Extract({corrupt});
    EXPECT_EQ(r2.status, 1);
    EXPECT_NE(r2.err.find("Error: cannot convert " + corrupt + ": "), std::string::npos) << r2.err;
    EXPECT_FALSE(fs::exists(Scratch("corrupt.wav")));
}

TEST_F(ExtractRunTest, OutputThatCannotBeWrittenIsReported) {
    const ChildProcess::Result full = Extract({s_flac, "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "Error: Can not write /dev/full\n");

    const std::string nowhere = Scratch("no such folder/out.wav");
    const ChildProcess::Result missing = Extract({s_flac, nowhere});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error: Can not open " + nowhere + "\n");
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(ExtractRunTest, WriteFailureOnARegularFileLeavesNoHalfFile) {
    // A file size limit makes the writes fail part way (with SIGXFSZ ignored, as
    // the shell passes it on, a write beyond the limit fails with EFBIG).
    const std::string out = Scratch("limited.wav");
    const std::string cmd = "ulimit -f 256; trap '' XFSZ; exec " + ShellQuote(Bin()) + " " +
                            ShellQuote(s_flac) + " " + ShellQuote(out) + " 2>&1";
    std::string text;
    EXPECT_EQ(RunCommand(cmd, &text), 1);
    EXPECT_EQ(text, "Error: Can not write " + out + "\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ExtractRunTest, OutputThatIsTheInputIsRefused) {
    const std::string input = CopyOf(s_pcm24, "same.wav");
    const std::string before = ReadAll(input);
    // The default output of a .wav is the input itself.
    const ChildProcess::Result r1 = Extract({"-y", input});
    EXPECT_EQ(r1.status, 1);
    EXPECT_NE(r1.err.find("is the input file"), std::string::npos) << r1.err;
    // Another spelling of the same file.
    const std::string other = (fs::path(input).parent_path() / "." / "same.wav").string();
    EXPECT_EQ(Extract({"-y", input, other}).status, 1);
    EXPECT_EQ(ReadAll(input), before);
}

TEST_F(ExtractRunTest, PathsWithBlanksAndNonAsciiCharacters) {
    fs::create_directory(Scratch("dir with blank"));
    const std::string input =
        m_dir->Make("dir with blank/ä ö.mp2", "-f lavfi -i sine=d=1:sample_rate=32000 -c:a mp2");
    const ChildProcess::Result r = Extract({input});
    EXPECT_EQ(r.status, 0) << r.err;
    const WavFile wav = WavFile::Read(Scratch("dir with blank/ä ö.wav"));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.rate, 32000u);
    // MPEG audio decoders may differ from ffmpeg's choice by one step; the sound starts
    // past the 481 samples of the codec's filter delay.
    const std::vector<int16_t> ours = wav.Samples16();
    const std::vector<int16_t> theirs = TestMedia::DecodeS16(input);
    ASSERT_EQ(ours.size() + 481, theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        ASSERT_NEAR(ours[i], theirs[i + 481], 1) << "sample " << i;
    }
}

TEST_F(ExtractRunTest, ProbeTellsDurationAndFormatAndWritesNothing) {
    const std::string deep = CopyOf(s_pcm24, "deep.wav");
    const ChildProcess::Result r1 = Extract({"--probe", deep});
    EXPECT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(r1.out,
              "Duration: 0:00:01.500\nFormat: PCM 24-bit, 48000 Hz, 2 channels, 288000 bytes/s\n"
              "Track 1: pcm_s24le, 48000 Hz, stereo, primary\n");

    const std::string aac = CopyOf(s_aac, "song.m4a");
    const ChildProcess::Result r2 = Extract({"--probe", aac});
    EXPECT_EQ(r2.status, 0) << r2.err;
    EXPECT_EQ(r2.out.rfind("Duration: 0:00:02.", 0), 0u) << r2.out;
    EXPECT_NE(r2.out.find("\nFormat: PCM 16-bit, 48000 Hz, 2 channels, 192000 bytes/s\n"),
              std::string::npos)
        << r2.out;
    EXPECT_FALSE(fs::exists(Scratch("song.wav")));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir->Dir()), fs::directory_iterator()), 2);

    // A file that plays but has no sound: the probe says so, and writes nothing either.
    const std::string movie = CopyOf(s_videoOnly, "movie.mpg");
    const ChildProcess::Result r3 = Extract({"--probe", movie});
    EXPECT_EQ(r3.status, 1);
    EXPECT_EQ(r3.err, "Error: cannot probe " + movie +
                          ": the file has no audio stream: Stream not found\n");
    EXPECT_EQ(r3.out, "");
    EXPECT_FALSE(fs::exists(Scratch("movie.wav")));
}

TEST_F(ExtractRunTest, StandardInputIsReadOnceAndCutLikeTheFile) {
    // A pipe cannot seek: the start mark is reached by decoding, to the same samples.
    const std::string fromFile = Scratch("file.wav");
    const std::string fromPipe = Scratch("pipe.wav");
    ASSERT_EQ(Extract({"-s", "1.25", "-e", "2.5", s_flac, fromFile}).status, 0);
    std::string err;
    const int status = RunCommand("cat " + ShellQuote(s_flac) + " | " + ShellQuote(Bin()) +
                                      " -s 1.25 -e 2.5 - " + ShellQuote(fromPipe) + " 2>&1",
                                  &err);
    EXPECT_EQ(status, 0) << err;
    const WavFile a = WavFile::Read(fromFile);
    const WavFile b = WavFile::Read(fromPipe);
    ASSERT_TRUE(a.Valid());
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.Samples16(),
              std::vector<int16_t>(s_flacSamples.begin() + 2 * 55125,
                                   s_flacSamples.begin() + 2 * 55125 + a.Samples16().size()));
}

TEST_F(ExtractRunTest, WithoutAKnownLengthProgressCountsTheTimeConverted) {
    const std::string out = Scratch("piped.wav");
    ChildProcess child;
    ASSERT_TRUE(child.Start(
        {"/bin/sh", "-c",
         "cat " + ShellQuote(s_flac) + " | " + ShellQuote(Bin()) + " - " + ShellQuote(out)},
        true));
    const auto r = child.Wait(60s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0) << r->err;
    EXPECT_NE(r->err.find("converted 0:03  elapsed"), std::string::npos) << r->err;
    EXPECT_EQ(r->err.find('%'), std::string::npos) << r->err;
}

TEST_F(ExtractRunTest, NamedPipesAndDevicesAreRefusedAtOnce) {
    const std::string fifo = Scratch("pipe.flac");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{fifo, Scratch("a.wav")},
                                               {"/dev/zero", Scratch("b.wav")},
                                               {"--probe", fifo},
                                               {m_dir->Dir().string(), Scratch("c.wav")}}) {
        const auto started = std::chrono::steady_clock::now();
        const ChildProcess::Result r = Extract(args);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(Scratch("a.wav")));
}

TEST_F(ExtractRunTest, SeekIntoAnMpegStreamKeepsStderrClean) {
    // Decoding restarts mid-stream after a seek; FFmpeg's complaints about that are
    // no business of the user's.
    const std::string input = m_dir->Make("program.mpg", "-f lavfi -i testsrc=d=12:size=160x120 " +
                                                             TestMedia::Tones(12, 44100) +
                                                             " -c:v mpeg1video -c:a mp2 -f mpeg");
    const std::string out = Scratch("tail.wav");
    const ChildProcess::Result r = Extract({"-s", "7.3", "-e", "9", input, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(WavFile::Read(out).Valid());
}

TEST_F(ExtractRunTest, ProbeNamesWhatWasDecidedAboutTheLead) {
    const std::string picture = "-f lavfi -i testsrc=d=2:s=160x120:r=25 ";
    const struct {
        const char* file;
        std::string args;
        const char* text;  // at the end of the track's line
        int samples;
        bool takenOff;
    } rows[] = {
        {"raw.mp2", TestMedia::Tones(2, 44100) + " -c:a mp2", ", lead 481 samples taken off", 481,
         true},
        // FFmpeg's muxer starts the sound before the picture by the encoder's delay.
        {"movie.mpg", picture + TestMedia::Tones(2, 44100) + " -c:v mpeg1video -c:a mp2",
         ", timestamps carry the lead", 481, false},
        {"tagged.mp3", TestMedia::Tones(2, 44100) + " -c:a libmp3lame",
         ", delay of 1105 samples recorded in the file", 1105, true},
        {"late.mp4",
         picture + "-itsoffset 0.5 " + TestMedia::Tones(2, 48000) + " -c:v mpeg4 -c:a aac",
         ", timestamps followed (sound and picture start apart)", 1024, false},
        {"lossless.flac", TestMedia::Tones(2, 44100) + " -c:a flac", "stereo, primary", 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string input = m_dir->Make(row.file, row.args);
        const ChildProcess::Result text = Extract({"--probe", input});
        ASSERT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find(std::string(row.text) + "\n"), std::string::npos) << text.out;
        const ChildProcess::Result json = Extract({"--probe", "--json", input});
        ASSERT_EQ(json.status, 0) << json.err;
        const nlohmann::json lead = nlohmann::json::parse(json.out)["tracks"][0]["lead"];
        EXPECT_EQ(lead["samples"], row.samples) << json.out;
        EXPECT_EQ(lead["taken_off"], row.takenOff) << json.out;
    }
}

TEST_F(ExtractRunTest, ASilentMonoAc3VobIsCutWhereLibavformatsSearchFails) {
    // DVDs often carry mono AC-3 with silent stretches; libavformat's own search for a
    // time in such a program stream fails part way. A click at 3 s marks the place.
    const std::string vob = m_dir->Make(
        "silent.vob",
        "-f lavfi -i \"aevalsrc='if(between(t,3,3.002),0.8,0)':s=48000:d=6\" -c:a ac3 -f vob");
    const std::string out = Scratch("silent.wav");
    const ChildProcess::Result r = Extract({"-q", "-s", "2", "-e", "4", vob, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const WavFile wav = WavFile::Read(out);
    ASSERT_TRUE(wav.Valid());
    ASSERT_EQ(wav.DataBytes(), 192'000u);  // 2.000 s of mono 16-bit at 48 kHz
    // ffmpeg's decode from the start, past AC-3's 256 samples of delay, which a file
    // without a picture carries in its sound.
    const std::vector<int16_t> whole = TestMedia::DecodeS16(vob);
    const std::vector<int16_t> got = wav.Samples16();
    const size_t first = 2 * 48000 + 256;
    ASSERT_GE(whole.size(), first + got.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + first));
}

TEST_F(ExtractRunTest, AudioTracksAreListedAndChosen) {
    // Track 1: mono MP3 commentary in English; track 2: the stereo sound, marked default.
    const std::string movie = m_dir->Make(
        "two tracks.mkv", "-f lavfi -i \"sine=f=300:r=22050:d=2\" " + TestMedia::Tones(2, 48000) +
                              " -map 0 -map 1 -c:a:0 libmp3lame -c:a:1 flac -sample_fmt:a:1 s16 "
                              "-metadata:s:a:0 language=eng -metadata:s:a:0 title=Commentary "
                              "-disposition:a:0 0 -disposition:a:1 default");
    const ChildProcess::Result probe = Extract({"--probe", movie});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_NE(probe.out.find("\nTrack 1: mp3, 22050 Hz, mono, language eng, title \"Commentary\", "
                             "lead 1105 samples taken off\n"
                             "Track 2: flac, 48000 Hz, stereo, default, primary\n"),
              std::string::npos)
        << probe.out;

    const ChildProcess::Result json = Extract({"--probe", "--json", "-a", "1", movie});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["path"], movie);
    EXPECT_NEAR(j["duration"].get<double>(), 2.0, 0.1);
    EXPECT_EQ(j["primary"], 2);
    ASSERT_EQ(j["tracks"].size(), 2u);
    EXPECT_EQ(j["tracks"][0]["language"], "eng");
    EXPECT_EQ(j["tracks"][0]["title"], "Commentary");
    EXPECT_TRUE(j["tracks"][1]["language"].is_null());
    EXPECT_EQ(j["tracks"][1]["default"], true);
    EXPECT_EQ(j["output"], nlohmann::json::parse(R"({"track": 1, "format": "s16",
        "sample_rate": 22050, "channels": 1, "bits": 16, "bytes_per_second": 44100})"));

    // No -a: the primary track; -a 1: the commentary.
    ASSERT_EQ(Extract({movie, Scratch("main.wav")}).status, 0);
    EXPECT_EQ(WavFile::Read(Scratch("main.wav")).channels, 2u);
    ASSERT_EQ(Extract({"-a", "1", movie, Scratch("commentary.wav")}).status, 0);
    const WavFile commentary = WavFile::Read(Scratch("commentary.wav"));
    EXPECT_EQ(commentary.rate, 22050u);
    EXPECT_EQ(commentary.channels, 1u);

    // A track that is not there is a usage error that says how many there are.
    const ChildProcess::Result missing = Extract({"-a", "3", movie, Scratch("none.wav")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no track 3 in " + movie + ": it has 2 audio tracks"),
              std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(Scratch("none.wav")));
    EXPECT_EQ(Extract({"-a", "0", movie}).status, 2);
}

TEST_F(ExtractRunTest, ABatchConvertsEveryInputAndNamesTheOnesThatFail) {
    fs::create_directory(Scratch("out"));
    const std::string flac = CopyOf(s_flac, "a/tones.flac");
    const std::string deep = CopyOf(s_pcm24, "b/deep.wav");
    const std::string twin = CopyOf(s_flac, "c/tones.flac");  // same name as the first
    const ChildProcess::Result r =
        Extract({"-d", Scratch("out"), flac, s_videoOnly, deep, twin, Scratch("missing.mpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(WavFile::Read(Scratch("out/tones.wav")).Samples16(), s_flacSamples);
    EXPECT_TRUE(WavFile::Read(Scratch("out/deep.wav")).Valid());
    EXPECT_FALSE(fs::exists(Scratch("out/movie.wav")));
    for (const std::string& failed : {s_videoOnly, twin, Scratch("missing.mpg")}) {
        EXPECT_NE(r.err.find("Error: cannot convert " + failed), std::string::npos) << r.err;
    }
    EXPECT_EQ(Extract({"-d", Scratch("no such folder"), flac}).status, 2);
    EXPECT_EQ(Extract({"-d", Scratch("out"), "-"}).status, 2);
}

TEST_F(ExtractRunTest, FormatsHeadersAndClippingFromTheCommandLine) {
    // Half again as loud as full scale, in float: 16-bit output clips and says so.
    const std::string loud = m_dir->Make(
        "loud.wav", "-f lavfi -i \"aevalsrc=1.5*sin(2*PI*50*t):s=8000:d=0.5\" -c:a pcm_f32le");
    const ChildProcess::Result clipped = Extract({loud, Scratch("clipped.wav")});
    EXPECT_EQ(clipped.status, 0);
    EXPECT_NE(clipped.err.find(" samples of " + loud +
                               " were louder than 16-bit integers can hold and were clipped; "
                               "-f f32 keeps them whole"),
              std::string::npos)
        << clipped.err;
    const ChildProcess::Result whole =
        Extract({"-f", "f32", "-w", "modern", loud, Scratch("whole.wav")});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.err, "");
    const std::string header = ReadAll(Scratch("whole.wav")).substr(0, 16);
    EXPECT_EQ(header.substr(0, 4) + header.substr(8, 8), "RIFFWAVEJUNK");
    EXPECT_EQ(Extract({"-f", "s20", loud}).status, 2);
    EXPECT_EQ(Extract({"-w", "rf64", loud}).status, 2);
}

TEST_F(ExtractRunTest, AFileWhoseChunkSizesLieFailsAtOnceInLittleMemory) {
    // Without the cap on FFmpeg's allocations this 139-byte file took 1.6 GB and 4 s.
    const std::string input = Scratch("lying.wav");
    HostileFiles::WriteLyingWav(input);
    const ChildProcess::Result r = Extract({"-y", input, Scratch("out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: cannot convert " + input +
                         ": cannot open the file: Invalid data found when processing input\n");
    EXPECT_FALSE(fs::exists(Scratch("out.wav")));
    EXPECT_GT(r.peakRssKib, 0);
    EXPECT_LT(r.peakRssKib, 256 * 1024);
}

TEST_F(ExtractRunTest, JoinedMpegFilesAreProbedAndCutInOneTimeline) {
    // Two 10 s program streams joined with cat: the timestamps restart at the join.
    std::string joined;
    for (int tone : {300, 500}) {
        const std::string part = m_dir->Make(
            "part" + std::to_string(tone) + ".mpg",
            "-f lavfi -i testsrc=d=10:size=160x120 -f lavfi -i sine=f=" + std::to_string(tone) +
                ":r=44100:d=10 -c:v mpeg1video -c:a mp2 -f mpeg");
        joined += ReadAll(part);
    }
    const std::string input = Scratch("joined.mpg");
    WriteAll(input, joined);

    const ChildProcess::Result probe = Extract({"--probe", input});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out.rfind("Duration: 0:00:20.0", 0), 0u) << probe.out;
    EXPECT_NE(probe.out.find("\nTimeline: 2 segments (timestamps restart at 0:00:10.00"),
              std::string::npos)
        << probe.out;
    const ChildProcess::Result json = Extract({"--probe", "--json", input});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["timeline"].size(), 2u) << json.out;
    EXPECT_EQ(j["timeline"][0]["start"], 0.0);
    EXPECT_NEAR(j["timeline"][1]["start"].get<double>(), 10.0, 0.03);
    EXPECT_NEAR(
        j["timeline"][0]["duration"].get<double>() + j["timeline"][1]["duration"].get<double>(),
        j["duration"].get<double>(), 0.0015);
    // One part alone has no timeline to tell.
    const ChildProcess::Result single = Extract({"--probe", "--json", Scratch("part300.mpg")});
    EXPECT_TRUE(nlohmann::json::parse(single.out)["timeline"].is_null()) << single.out;
    EXPECT_EQ(Extract({"--probe", Scratch("part300.mpg")}).out.find("Timeline"), std::string::npos);

    // A cut inside the second part holds two seconds of its tone.
    const std::string out = Scratch("second.wav");
    const ChildProcess::Result cut = Extract({"-q", "-s", "14", "-e", "16", input, out});
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.err, "");
    const WavFile wav = WavFile::Read(out);
    ASSERT_EQ(wav.DataBytes(), 176'400u);  // 2 s of mono at 88,200 bytes/s
    const std::vector<int16_t> s = wav.Samples16();
    int crossings = 0;
    for (size_t i = 1; i < 88200; ++i) {
        crossings += (s[i - 1] < 0) != (s[i] < 0) ? 1 : 0;
    }
    EXPECT_NEAR(crossings / 2.0 / 2.0, 500, 5);
}
