#include "LibavLimits.h"

#include <gtest/gtest.h>

#include "FfmpegAudioSource.h"
#include "HostileFiles.h"
#include "TestMedia.h"

// The program's start (the ConverterApp the test main made) caps FFmpeg's allocations:
// the duration probe of a file whose chunk sizes lie fails at once instead of filling
// 1.6 GB while the dialog waits.
TEST(LibavLimits, TheProgramStartsWithFfmpegAllocationsCapped) {
    TestMedia media;
    const std::string path = media.Path("lying.wav");
    HostileFiles::WriteLyingWav(path);
    const long before = HostileFiles::PeakResidentKib();
    int64_t duration = 0;
    FfmpegAudioSource probe;
    EXPECT_FALSE(probe.GetMediaDuration(path, duration));
    EXPECT_EQ(probe.LastError(), "cannot open the file: Invalid data found when processing input");
    EXPECT_LT(HostileFiles::PeakResidentKib() - before, 64 * 1024);
}
