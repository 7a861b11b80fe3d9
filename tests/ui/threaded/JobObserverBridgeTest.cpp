#include "JobObserverBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordingMessages.h"
#include "WaitFor.h"

TEST(JobObserverBridge, ReportsArriveOnTheGuiThreadInOrder) {
    RecordingMessages messages;
    JobObserverBridge bridge(messages);
    std::vector<std::string> seen;
    QObject::connect(&bridge, &JobObserverBridge::JobRunning, [&] { seen.push_back("running"); });
    QObject::connect(&bridge, &JobObserverBridge::JobProgress,
                     [&](int p) { seen.push_back(std::to_string(p)); });
    QObject::connect(&bridge, &JobObserverBridge::JobFinished,
                     [&](const JobOutcome&) { seen.push_back("finished"); });
    std::thread worker([&] {
        bridge.OnJobRunning();
        bridge.OnJobProgress(5);
        bridge.OnJobProgress(6);
        bridge.OnJobMessage("Can not write x", "Error");
        bridge.OnJobProgress(0);
        bridge.OnJobFinished(JobOutcome{});
    });
    ASSERT_TRUE(WaitFor([&] { return seen.size() == 5; }));
    worker.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"running", "5", "6", "0", "finished"}));
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_EQ(messages.records[0].text, "Can not write x");
}

TEST(JobObserverBridge, MessageHoldsTheWorkerUntilSeen) {
    RecordingMessages messages;
    messages.holdUnowned = true;
    JobObserverBridge bridge(messages);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        bridge.OnJobMessage("Can not open x", "Error");
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(returned);
    messages.ReleaseHeld();
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(JobObserverBridge, AutoDismissAndShutdownNeverLeaveTheWorkerWaiting) {
    RecordingMessages messages;
    messages.holdUnowned = true;
    JobObserverBridge bridge(messages);
    std::thread first([&] { bridge.OnJobMessage("one", "Error"); });
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    bridge.SetAutoDismiss(true);
    first.join();
    EXPECT_EQ(messages.dismissed, 1);

    // While dismissing, a new message is not shown at all.
    std::atomic<bool> returned{false};
    std::thread second([&] {
        bridge.OnJobMessage("two", "Error");
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    second.join();
    EXPECT_EQ(messages.records.size(), 1u);

    // After shutdown nothing waits, even with no event loop running.
    bridge.SetAutoDismiss(false);
    bridge.Shutdown();
    std::thread third([&] { bridge.OnJobMessage("three", "Error"); });
    third.join();
}
