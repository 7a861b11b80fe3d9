#include "ExtractArguments.h"

#include <gtest/gtest.h>

#include "ExtractCommand.h"

namespace {

ExtractArguments Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "orvane-extract");
    return ExtractArguments::Parse(args);
}

}  // namespace

TEST(ExtractArgumentsTest, TimesInBothFormsBecomeMediaTime) {
    const ExtractArguments a = Parse({"-s", "1:02:03.5", "-e", "12.5", "in.mpg"});
    ASSERT_EQ(a.action, ExtractArguments::Action::Convert) << a.errText;
    EXPECT_EQ(a.rtStart, 37'235'000'000);
    EXPECT_EQ(a.rtEnd, 125'000'000);

    const ExtractArguments b = Parse({"--start", "1:30", "--end=90.0000001", "in.mpg"});
    ASSERT_EQ(b.action, ExtractArguments::Action::Convert) << b.errText;
    EXPECT_EQ(b.rtStart, 900'000'000);
    EXPECT_EQ(b.rtEnd, 900'000'001);

    // Without marks: from the start to the end of the stream.
    const ExtractArguments c = Parse({"in.mpg"});
    EXPECT_EQ(c.rtStart, 0);
    EXPECT_EQ(c.rtEnd, ConversionRequest::kToEndOfStream);
    EXPECT_FALSE(c.yes);
    EXPECT_FALSE(c.quiet);
}

TEST(ExtractArgumentsTest, BadTimesAreUsageErrors) {
    for (const char* bad : {"abc", "1:2:3:4", "-5", "1:60", "", "1..2", "12s", "1,5"}) {
        const ExtractArguments a = Parse({"-s", bad, "in.mpg"});
        EXPECT_EQ(a.action, ExtractArguments::Action::Exit) << bad;
        EXPECT_EQ(a.exitCode, 2) << bad;
        EXPECT_NE(a.errText.find("Error: "), std::string::npos) << bad;
        const ExtractArguments b = Parse({"in.mpg", "-e", bad});
        EXPECT_EQ(b.exitCode, 2) << bad;
    }
}

TEST(ExtractArgumentsTest, MissingInputUnknownOptionsAndExtraArgumentsAreUsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"-y"}, {"--bogus", "in.mpg"}, {"in.mpg", "out.wav", "third"}, {"-s"}}) {
        const ExtractArguments a = Parse(args);
        EXPECT_EQ(a.action, ExtractArguments::Action::Exit);
        EXPECT_EQ(a.exitCode, 2);
        EXPECT_EQ(a.errText.rfind("Error: ", 0), 0u) << a.errText;
        EXPECT_TRUE(a.outText.empty());
    }
}

TEST(ExtractArgumentsTest, HelpAndVersionEndWithSuccess) {
    const ExtractArguments help = Parse({"--help"});
    EXPECT_EQ(help.action, ExtractArguments::Action::Exit);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.outText.find("--probe"), std::string::npos);
    EXPECT_NE(help.outText.find("1:02:03.5"), std::string::npos);

    const ExtractArguments version = Parse({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.outText, "orvane-extract " ORVANE_VERSION "\n");
}

TEST(ExtractArgumentsTest, OutputDefaultsToInputWithWavExtension) {
    EXPECT_EQ(Parse({"movie.mpg"}).outputs, std::vector<std::string>{"movie.wav"});
    EXPECT_EQ(Parse({"-y", "-q", "movie.mpg", "other.wav"}).outputs,
              std::vector<std::string>{"other.wav"});
    EXPECT_EQ(ExtractArguments::DefaultOutput("dir with blank/ä ö.mp2"), "dir with blank/ä ö.wav");
    EXPECT_EQ(ExtractArguments::DefaultOutput("movie"), "movie.wav");
    EXPECT_EQ(ExtractArguments::DefaultOutput("dir.d/movie"), "dir.d/movie.wav");
    EXPECT_EQ(ExtractArguments::DefaultOutput("clip.tar.mpg"), "clip.tar.wav");
    EXPECT_EQ(ExtractArguments::DefaultOutput(".hidden"), ".hidden.wav");
    // A file name that starts with a dash, after the end of the options.
    const ExtractArguments dash = Parse({"--", "-clip.mpg"});
    EXPECT_EQ(dash.inputs, std::vector<std::string>{"-clip.mpg"});
    EXPECT_EQ(dash.outputs, std::vector<std::string>{"-clip.wav"});
}

TEST(ExtractArgumentsTest, FlagsAndProbe) {
    const ExtractArguments a = Parse({"-yq", "in.mpg"});
    EXPECT_TRUE(a.yes);
    EXPECT_TRUE(a.quiet);
    EXPECT_EQ(Parse({"--probe", "in.mpg"}).action, ExtractArguments::Action::Probe);
}

TEST(ExtractArgumentsTest, FormatTextNamesDepthRateChannelsAndByteRate) {
    AudioFormat f;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 192000;
    EXPECT_EQ(ExtractCommand::FormatText(f), "PCM 16-bit, 48000 Hz, 2 channels, 192000 bytes/s");
    f.nChannels = 1;
    f.wBitsPerSample = 8;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 8000;
    EXPECT_EQ(ExtractCommand::FormatText(f), "PCM 8-bit, 8000 Hz, 1 channel, 8000 bytes/s");
}
