#pragma once

#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "ConversionJob.h"
#include "JobObserver.h"

class UserMessages;

// Carries a conversion job's reports from its worker thread to the GUI thread.
// Running, progress and finished are queued and never make the worker wait. A
// message makes the worker wait until the user has seen it, but the GUI thread
// shows it without waiting for anything, so neither thread can block the other
// for good. Lives on the GUI thread; its signals are emitted there.
class JobObserverBridge : public QObject, public JobObserver {
    Q_OBJECT
  public:
    explicit JobObserverBridge(UserMessages& messages, QObject* parent = nullptr);
    ~JobObserverBridge() override;

    // Worker thread.
    void OnJobRunning() override;
    void OnJobProgress(int position) override;
    void OnJobMessage(const std::string& text, const std::string& caption) override;
    void OnJobFinished(const JobOutcome& outcome) override;

    // GUI thread: while set, worker messages are not shown and the worker goes on at
    // once; setting it also closes the boxes already shown. Used while the dialog ends.
    void SetAutoDismiss(bool autoDismiss);
    // Any thread: releases every waiting worker for good; later messages return at once.
    void Shutdown();

  signals:
    void JobRunning();
    void JobProgress(int position);
    void JobMessageShown(const QString& text, const QString& caption);
    void JobFinished(const JobOutcome& outcome);

  private:
    struct Pending;
    void ShowOnGuiThread(const std::shared_ptr<Pending>& pending, const QString& text,
                         const QString& caption);

    UserMessages& m_messages;
    bool m_bAutoDismiss = false;
    std::mutex m_mutex;
    bool m_bShutdown = false;
    std::vector<std::weak_ptr<Pending>> m_pending;
};
