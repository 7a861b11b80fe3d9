#include "WavWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "TestMedia.h"
#include "WavFile.h"

namespace {

AudioFormat PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    AudioFormat f;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

}  // namespace

TEST(WavWriter, TemplateIsTheCanonicalPlaceholderHeader) {
    const std::vector<uint8_t> expected = {
        0x52, 0x49, 0x46, 0x46, 0x00, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
        0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(
        std::vector<uint8_t>(WavWriter::kHeaderTemplate.begin(), WavWriter::kHeaderTemplate.end()),
        expected);

    // A file that is never finished keeps exactly the template and the data written.
    TestMedia media;
    const std::string path = media.Path("unfinished.wav");
    {
        WavWriter w;
        ASSERT_EQ(w.BeginWavFile(path), WavWriter::Result::Ok);
        const uint8_t data[3] = {1, 2, 3};
        ASSERT_EQ(w.WriteWavData(data, 3), WavWriter::Result::Ok);
    }
    WavFile f = WavFile::Read(path);
    ASSERT_EQ(f.bytes.size(), 47u);
    EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + 44), expected);
}

TEST(WavWriter, FinishPatchesSizesAndFormat) {
    TestMedia media;
    const std::string path = media.Path("mono8.wav");
    WavWriter w;
    ASSERT_EQ(w.BeginWavFile(path), WavWriter::Result::Ok);
    std::vector<uint8_t> a(5000, 0x80), b(1234, 0x7F);
    b.push_back(0x01);  // odd length: 1235 bytes
    ASSERT_EQ(w.WriteWavData(a.data(), a.size()), WavWriter::Result::Ok);
    ASSERT_EQ(w.WriteWavData(b.data(), 0), WavWriter::Result::Ok);
    ASSERT_EQ(w.WriteWavData(b.data(), b.size()), WavWriter::Result::Ok);
    AudioFormat fmt = PcmFormat(1, 8000, 8);
    fmt.cbSize = 22;  // extra format bytes are never written
    ASSERT_EQ(w.FinishWavFile(fmt), WavWriter::Result::Ok);

    WavFile f = WavFile::Read(path);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.bytes.size(), 44u + 6235u);  // no pad byte after odd data
    EXPECT_EQ(f.dataSize, 6235u);
    EXPECT_EQ(f.riffSize, 6235u + 36u);
    EXPECT_EQ(f.fmtSize, 16u);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.rate, 8000u);
    EXPECT_EQ(f.avgBytes, 8000u);
    EXPECT_EQ(f.blockAlign, 1);
    EXPECT_EQ(f.bits, 8);
    EXPECT_EQ(f.bytes.back(), 0x01);
}

TEST(WavWriter, NoDataGivesA44ByteFile) {
    TestMedia media;
    const std::string path = media.Path("empty.wav");
    WavWriter w;
    ASSERT_EQ(w.BeginWavFile(path), WavWriter::Result::Ok);
    ASSERT_EQ(w.FinishWavFile(PcmFormat(2, 48000, 16)), WavWriter::Result::Ok);
    WavFile f = WavFile::Read(path);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.bytes.size(), 44u);
    EXPECT_EQ(f.riffSize, 36u);
    EXPECT_EQ(f.dataSize, 0u);
    EXPECT_EQ(f.rate, 48000u);
    EXPECT_EQ(f.avgBytes, 192000u);
}

TEST(WavWriter, MissingFolderFailsToOpenAndLeavesNoFile) {
    TestMedia media;
    const std::string path = media.Path("no such folder/out.wav");
    WavWriter w;
    EXPECT_EQ(w.BeginWavFile(path), WavWriter::Result::OpenFailed);
    EXPECT_FALSE(std::filesystem::exists(path));

    // An empty path names no file either.
    WavWriter w2;
    EXPECT_EQ(w2.BeginWavFile(""), WavWriter::Result::OpenFailed);
}

TEST(WavWriter, FullDiskIsAFailedWriteNotASuccess) {
    WavWriter w;
    ASSERT_EQ(w.BeginWavFile("/dev/full"), WavWriter::Result::Ok);
    std::vector<uint8_t> data(5000, 1);
    WavWriter::Result r = WavWriter::Result::Ok;
    // The stream buffer hides the failure until it is flushed, at the latest at the end.
    for (int i = 0; i < 400 && r == WavWriter::Result::Ok; ++i) {
        r = w.WriteWavData(data.data(), data.size());
    }
    if (r == WavWriter::Result::Ok) {
        r = w.FinishWavFile(PcmFormat(2, 44100, 16));
    }
    EXPECT_EQ(r, WavWriter::Result::WriteFailed);
}

TEST(WavWriter, RiffLimitEndsWithWholeFramesAndAValidFile) {
    TestMedia media;
    const std::string path = media.Path("limit.wav");
    // A small limit stands in for 4 GiB; the arithmetic is the same.
    WavWriter w(10'002);
    ASSERT_EQ(w.BeginWavFile(path), WavWriter::Result::Ok);
    std::vector<uint8_t> data(5000, 9);
    EXPECT_EQ(w.WriteWavData(data.data(), 5000, 4), WavWriter::Result::Ok);
    EXPECT_EQ(w.WriteWavData(data.data(), 5000, 4), WavWriter::Result::Ok);
    EXPECT_EQ(w.WriteWavData(data.data(), 5000, 4), WavWriter::Result::SizeLimit);
    EXPECT_EQ(w.DataBytes(), 10'000);
    ASSERT_EQ(w.FinishWavFile(PcmFormat(2, 44100, 16)), WavWriter::Result::Ok);
    WavFile f = WavFile::Read(path);
    EXPECT_TRUE(f.Valid());
    EXPECT_EQ(f.dataSize, 10'000u);
    EXPECT_EQ(WavWriter::kMaxDataBytes + 36, 0xFFFFFFFFLL);
}
