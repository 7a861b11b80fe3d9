// orvane-extract cutting many segments of one file: from a cut list, the chapters or the
// silences, into a file each or one joined file, each file the same as a single cut.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> DataOf(const std::string& path) {
    const WavFile wav = WavFile::Read(path);
    EXPECT_TRUE(wav.Valid()) << path;
    return std::vector<uint8_t>(wav.Data(), wav.Data() + wav.DataBytes());
}

class SegmentRunTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_media = std::make_unique<TestMedia>();
        const std::string meta = s_media->Path("chapters.txt");
        std::ofstream(meta) << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1250\n"
                               "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1250\nEND=4000\n"
                               "title=Two/Three\n";
        // Sound with a silence from 1.5 s to 3.75 s, and two chapters.
        s_input =
            s_media->Make("live.mkv",
                          "-f lavfi -i \"aevalsrc='if(between(t,1.5,3.75),0,0.5*sin(2*PI*440*t))':"
                          "s=44100:d=4\" -i " +
                              ShellQuote(meta) + " -map 0:a -map_chapters 1 -ac 2 -c:a ac3");
    }
    static void TearDownTestSuite() { s_media.reset(); }
    void SetUp() override { m_dir = std::make_unique<TestMedia>(); }

    // A single cut of the marks, as the reference each segment's file must equal.
    std::vector<uint8_t> Single(const std::string& start, const std::string& end) const {
        const std::string out = m_dir->Path("single.wav");
        EXPECT_EQ(Extract({"-y", "-q", "-s", start, "-e", end, s_input, out}).status, 0);
        return DataOf(out);
    }
    std::string List(const std::string& name, const std::string& text) const {
        const std::string path = m_dir->Path(name);
        std::ofstream(path) << text;
        return path;
    }

    static std::unique_ptr<TestMedia> s_media;
    static std::string s_input;
    std::unique_ptr<TestMedia> m_dir;
};

std::unique_ptr<TestMedia> SegmentRunTest::s_media;
std::string SegmentRunTest::s_input;

}  // namespace

TEST_F(SegmentRunTest, EachSourceOfSegmentsGivesFilesThatEqualTheirSingleCuts) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> files;
        std::vector<std::pair<const char*, const char*>> marks;
    } rows[] = {
        {"a CSV list, out of order",
         {"--segments", "list.csv"},
         {"live 01 b.wav", "live 02 a, c.wav"},
         {{"0.5", "1.25"}, {"2", "3.5"}}},
        {"labels, named by number and start",
         {"--segments", "list.txt", "--name", "{n}-{start}"},
         {"1-0-00-00.100.wav"},
         {{"0.1", "0.2"}}},
        {"the chapters",
         {"--split-chapters"},
         {"live 01 One.wav", "live 02 Two_Three.wav"},
         {{"0", "1.25"}, {"1.25", "4"}}},
        {"the silences",
         {"--split-silence"},
         {"live 01.wav", "live 02.wav"},
         {{"0", "1.75"}, {"3.5", "4"}}},
    };
    List("list.csv", "start,end,name\n2,0:00:03.500,\"a, c\"\n0.5,1.25,b\n");
    List("list.txt", "0.100000\t0.200000\t\n");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = m_dir->Path("out");
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::vector<std::string> args = row.args;
        if (args[0] == "--segments") {
            args[1] = m_dir->Path(args[1]);
        }
        args.insert(args.end(), {"-d", folder, s_input});
        const ChildProcess::Result r = Extract(args);
        ASSERT_EQ(r.status, 0) << r.err;
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
            ++count;
        }
        EXPECT_EQ(count, row.files.size());
        for (size_t i = 0; i < row.files.size(); ++i) {
            SCOPED_TRACE(row.files[i]);
            const std::string path = folder + "/" + row.files[i];
            ASSERT_TRUE(fs::exists(path));
            // Silences are found on the decoded sound, which AC-3 smears by a few ms.
            if (std::string(row.what) != "the silences") {
                EXPECT_EQ(DataOf(path), Single(row.marks[i].first, row.marks[i].second));
            } else {
                const double seconds = static_cast<double>(DataOf(path).size()) / (44100 * 4);
                EXPECT_NEAR(seconds, std::stod(row.marks[i].second) - std::stod(row.marks[i].first),
                            0.01);
            }
        }
    }
}

TEST_F(SegmentRunTest, AJoinedFileListsItsCuesAndExistingFilesAreReplacedOnlyWhenAllowed) {
    const std::string joined = m_dir->Path("joined.wav");
    const ChildProcess::Result r =
        Extract({"--split-chapters", "--join", joined, "--bext", s_input});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> both = Single("0", "1.25");
    const std::vector<uint8_t> second = Single("1.25", "4");
    const uint32_t cue = static_cast<uint32_t>(both.size() / 4);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(DataOf(joined), both);
    const std::vector<WavFile::Cue> cues = WavFile::Read(joined).Cues();
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].frame, 0u);
    EXPECT_EQ(cues[0].label, "One");
    EXPECT_EQ(cues[1].frame, cue);
    EXPECT_EQ(cues[1].label, "Two/Three");

    // Without a terminal to ask, an existing file stops the export before anything is cut.
    const ChildProcess::Result again = Extract({"--split-chapters", "--join", joined, s_input});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("use -y"), std::string::npos) << again.err;
    EXPECT_EQ(DataOf(joined), both);
    EXPECT_EQ(Extract({"-y", "--split-chapters", "--join", joined, s_input}).status, 0);
}

TEST_F(SegmentRunTest, ABadListIsRefusedWholeWithItsLineAndTheProbeListsTheSegments) {
    const std::string folder = m_dir->Path("out");
    fs::create_directories(folder);
    const ChildProcess::Result bad = Extract(
        {"--segments", List("bad.csv", "start,end,name\n0,1,a\n1,9,b\n"), "-d", folder, s_input});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("line 3: the end lies past the end of the file"), std::string::npos)
        << bad.err;
    EXPECT_TRUE(fs::is_empty(folder));

    const ChildProcess::Result probe = Extract({"--probe", "--split-chapters", s_input});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out,
              "1: 0:00:00.000 - 0:00:01.250 (0:00:01.250) One\n"
              "2: 0:00:01.250 - 0:00:04.000 (0:00:02.750) Two/Three\n");
}
