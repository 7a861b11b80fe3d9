#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ConversionJob.h"
#include "JobObserver.h"

class UserMessages;
class WakeUp;

// Carries a conversion job's reports from its worker thread to the GUI thread.
// Running, progress and finished are queued and never make the worker wait. A
// notice makes the worker wait until the user has seen it, but the GUI thread
// shows it without waiting for anything, so neither thread can block the other
// for good. Lives on the GUI thread; its signals are emitted there.
//
// The reports travel in a queue of its own under a std::mutex, and a WakeUp wakes the
// GUI thread: every hand-over between the threads is visible to the thread sanitizer,
// which cannot see into Qt's own (uninstrumented) event queue.
class JobObserverBridge final : public QObject, public JobObserver {
    Q_OBJECT
  public:
    explicit JobObserverBridge(UserMessages& messages, QObject* parent = nullptr);
    ~JobObserverBridge() override;

    // Worker thread.
    void OnJobRunning() override;
    void OnJobProgress(int position) override;
    void OnJobNotice(const JobNotice& notice) override;
    void OnJobSegment(int number, int count) override;
    void OnJobFinished(const JobOutcome& outcome) override;

    // GUI thread: while set, worker messages are not shown and the worker goes on at
    // once; setting it also closes the boxes already shown. Used while the dialog ends.
    void SetAutoDismiss(bool autoDismiss);
    // Any thread: releases every waiting worker for good; later messages return at once.
    void Shutdown();

    // A notice in the dialog's words: text and caption.
    static std::pair<QString, QString> NoticeText(const JobNotice& notice);

  signals:
    void JobRunning();
    void JobProgress(int position);
    // An export of segments starts cutting segment `number` (from 1) of `count`.
    void JobSegment(int number, int count);
    void JobFinished(const JobOutcome& outcome);

  private:
    struct Pending;
    struct Report {
        enum class Kind { Running, Progress, Segment, Message, Finished };
        Report() = default;
        explicit Report(Kind k) : kind(k) {}

        Kind kind = Kind::Running;
        int position = 0;
        int count = 0;
        QString text;
        QString caption;
        std::shared_ptr<Pending> pending;
        JobOutcome outcome;
    };

    void Post(Report report);
    // GUI thread: hands the queued reports on, one at a time and in order, also when
    // a receiver runs an event loop of its own meanwhile.
    void Deliver();
    void ShowMessage(const Report& report);

    UserMessages& m_messages;
    bool m_autoDismiss = false;
    WakeUp* m_wake;

    std::mutex m_mutex;
    std::deque<Report> m_queue;
    bool m_shutdown = false;
    std::vector<std::weak_ptr<Pending>> m_pending;
};
