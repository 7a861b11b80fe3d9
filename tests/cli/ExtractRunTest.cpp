#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "HostileFiles.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Bin() {
    return ChildProcess::BuiltProgram("orvane-extract");
}

ChildProcess::Result Extract(std::vector<std::string> args) {
    args.insert(args.begin(), Bin());
    return ChildProcess::Run(args);
}

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

TEST_F(ExtractRunTest, MarksCutTheSpanInWholeBuffers) {
    const std::string out = Scratch("cut.wav");
    const ChildProcess::Result r = Extract({"-q", "-s", "0.5", "-e", "0:01.5", s_flac, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const WavFile wav = WavFile::Read(out);
    ASSERT_TRUE(wav.Valid());
    // One second at 176,400 bytes/s, rounded up to whole 5000-byte buffers.
    EXPECT_EQ(wav.DataBytes(), 180'000u);
    const std::vector<int16_t> samples = wav.Samples16();
    const size_t first = 22050 * 2;  // the sample at 0.5 s, both channels
    ASSERT_GE(s_flacSamples.size(), first + samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), s_flacSamples.begin() + first));
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
    EXPECT_EQ(version.out, "orvane-extract 1.1\n");
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
    // MPEG audio decoders may differ from ffmpeg's choice by one step.
    const std::vector<int16_t> ours = wav.Samples16();
    const std::vector<int16_t> theirs = TestMedia::DecodeS16(input);
    ASSERT_EQ(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        ASSERT_NEAR(ours[i], theirs[i], 1) << "sample " << i;
    }
}

TEST_F(ExtractRunTest, ProbeTellsDurationAndFormatAndWritesNothing) {
    const std::string deep = CopyOf(s_pcm24, "deep.wav");
    const ChildProcess::Result r1 = Extract({"--probe", deep});
    EXPECT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(r1.out,
              "Duration: 0:00:01.500\nFormat: PCM 24-bit, 48000 Hz, 2 channels, 288000 bytes/s\n");

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

TEST_F(ExtractRunTest, InputFromAPipeIsReadOnceEvenWithProgress) {
    // At a terminal the progress line wants the file's length; a pipe must not be
    // opened a second time for it, or the start of the sound is lost.
    const std::string fifo = Scratch("pipe.flac");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = Scratch("from-pipe.wav");
    ChildProcess child;
    ASSERT_TRUE(child.Start({Bin(), fifo, out}, true));
    std::thread feeder([&] { std::ofstream(fifo, std::ios::binary) << ReadAll(s_flac); });
    const auto r = child.Wait(60s);
    feeder.join();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0) << r->err;
    EXPECT_EQ(WavFile::Read(out).Samples16(), s_flacSamples);
    EXPECT_NE(r->err.find("elapsed"), std::string::npos) << r->err;
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
