#include "JobObserverBridge.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <tuple>

#include "UserMessages.h"
#include "WakeUp.h"

struct JobObserverBridge::Pending {
    std::mutex mutex;
    std::condition_variable seen;
    bool bSeen = false;

    void Release() {
        {
            std::lock_guard lock(mutex);
            bSeen = true;
        }
        seen.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex);
        seen.wait(lock, [this] { return bSeen; });
    }
};

JobObserverBridge::JobObserverBridge(UserMessages& messages, QObject* parent)
    : QObject(parent), m_messages(messages), m_wake(new WakeUp(this)) {
    connect(m_wake, &WakeUp::woken, this, &JobObserverBridge::Deliver);
}

JobObserverBridge::~JobObserverBridge() {
    Shutdown();
}

void JobObserverBridge::Post(Report report) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(report));
    }
    m_wake->Wake();
}

void JobObserverBridge::Deliver() {
    for (;;) {
        Report report;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) {
                return;
            }
            report = std::move(m_queue.front());
            m_queue.pop_front();
        }
        switch (report.kind) {
            case Report::Kind::Running:
                emit JobRunning();
                break;
            case Report::Kind::Segment:
                emit JobSegment(report.position, report.count);
                break;
            case Report::Kind::Progress:
                emit JobProgress(report.position);
                break;
            case Report::Kind::Message:
                ShowMessage(report);
                break;
            case Report::Kind::Finished:
                emit JobFinished(report.outcome);
                break;
        }
    }
}

void JobObserverBridge::OnJobRunning() {
    Post(Report(Report::Kind::Running));
}

void JobObserverBridge::OnJobProgress(int position) {
    // The job sends only changed positions; each one is passed on once, in order.
    Report report(Report::Kind::Progress);
    report.position = position;
    Post(std::move(report));
}

std::pair<QString, QString> JobObserverBridge::NoticeText(const JobNotice& notice) {
    const QString path = QString::fromStdString(notice.path);
    switch (notice.kind) {
        case JobNotice::Kind::CannotOpenOutput:
            return {tr("Can not open %1").arg(path), tr("Error")};
        case JobNotice::Kind::CannotWrite:
            return {tr("Can not write %1").arg(path), tr("Error")};
        case JobNotice::Kind::SizeLimit:
            return {tr("The WAV file %1 has reached 4 GB, the most a WAV file can hold. The "
                       "conversion stopped there; the file holds everything up to that point.\n"
                       "To write larger files, tick \"Large and multichannel WAV "
                       "(RF64/extensible)\" under More.")
                        .arg(path),
                    tr("Warning")};
    }
    return {tr("Can not write %1").arg(path), tr("Error")};
}

void JobObserverBridge::OnJobNotice(const JobNotice& notice) {
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(m_mutex);
        if (m_shutdown) {
            return;
        }
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                       [](const auto& p) { return p.expired(); }),
                        m_pending.end());
        m_pending.push_back(pending);
    }
    Report report(Report::Kind::Message);
    std::tie(report.text, report.caption) = NoticeText(notice);
    report.pending = pending;
    Post(std::move(report));
    pending->Wait();
}

void JobObserverBridge::OnJobSegment(int number, int count) {
    Report report(Report::Kind::Segment);
    report.position = number;
    report.count = count;
    Post(std::move(report));
}

void JobObserverBridge::OnJobFinished(const JobOutcome& outcome) {
    Report report(Report::Kind::Finished);
    report.outcome = outcome;
    Post(std::move(report));
}

void JobObserverBridge::ShowMessage(const Report& report) {
    if (m_autoDismiss) {
        report.pending->Release();
        return;
    }
    // The callback holds the waiting state, not the bridge: the box may outlive it.
    m_messages.ShowUnowned(report.text, report.caption,
                           [pending = report.pending] { pending->Release(); });
}

void JobObserverBridge::SetAutoDismiss(bool autoDismiss) {
    m_autoDismiss = autoDismiss;
    if (autoDismiss) {
        m_messages.DismissUnowned();
    }
}

void JobObserverBridge::Shutdown() {
    std::lock_guard lock(m_mutex);
    m_shutdown = true;
    for (const auto& weak : m_pending) {
        if (const auto pending = weak.lock()) {
            pending->Release();
        }
    }
    m_pending.clear();
}
