#include "JobObserverBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "RecordingMessages.h"
#include "WaitFor.h"

TEST(JobObserverBridge, ReportsArriveOnTheGuiThreadInOrder) {
    RecordingMessages messages;
    JobObserverBridge bridge(messages);
    // What each slot saw, and the thread it ran on.
    std::vector<std::string> seen;
    std::vector<std::thread::id> threads;
    QObject::connect(&bridge, &JobObserverBridge::JobRunning, [&] {
        seen.push_back("running");
        threads.push_back(std::this_thread::get_id());
    });
    QObject::connect(&bridge, &JobObserverBridge::JobProgress, [&](int p) {
        seen.push_back(std::to_string(p));
        threads.push_back(std::this_thread::get_id());
    });
    QObject::connect(&bridge, &JobObserverBridge::JobFinished, [&](const JobOutcome&) {
        seen.push_back("finished");
        threads.push_back(std::this_thread::get_id());
    });
    std::thread worker([&] {
        bridge.OnJobRunning();
        bridge.OnJobProgress(5);
        bridge.OnJobProgress(6);
        bridge.OnJobNotice({JobNotice::Kind::CannotWrite, "x"});
        bridge.OnJobProgress(0);
        bridge.OnJobFinished(JobOutcome{});
    });
    ASSERT_TRUE(WaitFor([&] { return seen.size() == 5; }));
    worker.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"running", "5", "6", "0", "finished"}));
    EXPECT_EQ(threads, std::vector<std::thread::id>(5, std::this_thread::get_id()));
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_EQ(messages.records[0].text, "Can not write x");
    EXPECT_EQ(messages.records[0].caption, "Error");
}

TEST(JobObserverBridge, NoticesAreWordedForTheDialog) {
    const auto text = [](JobNotice::Kind kind) {
        const auto [t, caption] = JobObserverBridge::NoticeText({kind, "/music/out.wav"});
        return (caption + ": " + t).toStdString();
    };
    EXPECT_EQ(text(JobNotice::Kind::CannotOpenOutput), "Error: Can not open /music/out.wav");
    EXPECT_EQ(text(JobNotice::Kind::CannotWrite), "Error: Can not write /music/out.wav");
    EXPECT_EQ(text(JobNotice::Kind::SizeLimit),
              "Warning: The WAV file /music/out.wav has reached 4 GB, the most a WAV file can "
              "hold. The conversion stopped there; the file holds everything up to that point.\n"
              "To write larger files, tick \"Large and multichannel WAV (RF64/extensible)\" "
              "under More.");
}

TEST(JobObserverBridge, MessageHoldsTheWorkerUntilSeen) {
    RecordingMessages messages;
    messages.holdUnowned = true;
    JobObserverBridge bridge(messages);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        bridge.OnJobNotice({JobNotice::Kind::CannotOpenOutput, "x"});
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    // A worker that did not wait would be back well within this time; one that waits
    // stays until the box is released, however long the GUI thread runs meanwhile.
    EXPECT_FALSE(WaitFor([&] { return returned.load(); }, 500));
    messages.ReleaseHeld();
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(JobObserverBridge, AutoDismissAndShutdownNeverLeaveTheWorkerWaiting) {
    RecordingMessages messages;
    messages.holdUnowned = true;
    JobObserverBridge bridge(messages);
    std::thread first([&] { bridge.OnJobNotice({JobNotice::Kind::CannotWrite, "one"}); });
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    bridge.SetAutoDismiss(true);
    first.join();
    EXPECT_EQ(messages.dismissed, 1);

    // While dismissing, a new message is not shown at all.
    std::atomic<bool> returned{false};
    std::thread second([&] {
        bridge.OnJobNotice({JobNotice::Kind::CannotWrite, "two"});
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    second.join();
    EXPECT_EQ(messages.records.size(), 1u);

    // After shutdown nothing waits, even with no event loop running, and nothing is shown.
    bridge.SetAutoDismiss(false);
    bridge.Shutdown();
    std::promise<void> thirdReturned;
    std::thread third([&] {
        bridge.OnJobNotice({JobNotice::Kind::CannotWrite, "three"});
        thirdReturned.set_value();
    });
    const bool returnedAtOnce =
        thirdReturned.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(returnedAtOnce) << "a message after shutdown keeps its worker waiting";
    if (!returnedAtOnce) {
        // Let it go, so that the fault ends the test instead of hanging it.
        WaitFor([&] { return !messages.held.empty(); }, 2000);
        messages.ReleaseHeld();
    }
    third.join();
    ProcessEventsFor(100);
    EXPECT_EQ(messages.records.size(), 1u);
    EXPECT_TRUE(messages.held.empty());
}
