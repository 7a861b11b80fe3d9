#pragma once

#include <QObject>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ConversionJob.h"
#include "MediaProber.h"

class WakeUp;

// Probes with the engine's own source on a thread of its own, so that a slow or large
// file never stalls the dialog. The answer comes as soon as the container has told what it
// knows; the scan of an MPEG file's timeline goes on behind it. A cancelled probe is told to
// give up its reading at once and is joined when it has.
class ThreadedMediaProber final : public QObject, public MediaProber {
    Q_OBJECT
  public:
    explicit ThreadedMediaProber(ConversionJob::SourceFactory factory, QObject* parent = nullptr);
    ~ThreadedMediaProber() override;

    void Probe(const std::string& path, Done done, Scanned scanned) override;
    void Cancel() override;

  private:
    struct Task;
    // One answer of a task: the early one or the whole one.
    struct Answer {
        std::shared_ptr<Task> task;
        bool ok = false;
        bool whole = false;
        MediaInfo info;
    };
    void Deliver();
    void JoinFinished();
    void Post(Answer answer);

    ConversionJob::SourceFactory m_factory;
    WakeUp* m_wake;
    std::shared_ptr<Task> m_current;
    std::vector<std::shared_ptr<Task>> m_tasks;  // every thread not joined yet
    std::mutex m_mutex;
    std::deque<Answer> m_answers;  // not yet delivered
};
