#include "ExtractObserver.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(ExtractObserverTest, NoticesAreWordedWithTheirKindAsPrefix) {
    std::ostringstream err;
    ExtractObserver observer(err);
    observer.OnJobNotice({JobNotice::Kind::CannotOpenOutput, "/no/folder/x.wav"});
    observer.OnJobNotice({JobNotice::Kind::CannotWrite, "/dev/full"});
    observer.OnJobNotice({JobNotice::Kind::SizeLimit, "x.wav"});
    EXPECT_EQ(err.str(),
              "Error: Can not open /no/folder/x.wav\nError: Can not write /dev/full\n"
              "Warning: The WAV file x.wav has reached 4 GB, the most a classic WAV file can "
              "hold. The conversion stopped there; the file holds everything up to that point "
              "(-w modern writes past it)\n");
}

TEST(ExtractObserverTest, AMessageDuringProgressStartsOnALineOfItsOwn) {
    std::ostringstream err;
    ExtractObserver observer(err);
    observer.ShowProgress(" 10.0%");
    observer.ShowProgress(" 20.0%");
    observer.OnJobNotice({JobNotice::Kind::CannotWrite, "out.wav"});
    observer.EndProgress();  // nothing left to end
    EXPECT_EQ(err.str(), "\r 10.0%\x1b[K\r 20.0%\x1b[K\nError: Can not write out.wav\n");
}

TEST(ExtractObserverTest, PositionIsTheFurthestReachedNotTheFinalReset) {
    std::ostringstream err;
    ExtractObserver observer(err);
    observer.OnJobProgress(300);
    observer.OnJobProgress(997);
    observer.OnJobProgress(0);  // the job puts its bar back to 0 at the end
    EXPECT_EQ(observer.Position(), 997);
    EXPECT_FALSE(observer.WaitFinished(std::chrono::milliseconds(0)));
    JobOutcome outcome;
    outcome.status = JobOutcome::Status::Stopped;
    outcome.dataBytes = 5000;
    observer.OnJobFinished(outcome);
    EXPECT_TRUE(observer.WaitFinished(std::chrono::milliseconds(0)));
    EXPECT_EQ(observer.Outcome().status, JobOutcome::Status::Stopped);
    EXPECT_EQ(observer.Outcome().dataBytes, 5000);
}
