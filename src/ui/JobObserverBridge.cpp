#include "JobObserverBridge.h"

#include <QMetaObject>
#include <algorithm>

#include "UserMessages.h"

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
    : QObject(parent), m_messages(messages) {}

JobObserverBridge::~JobObserverBridge() {
    Shutdown();
}

void JobObserverBridge::OnJobRunning() {
    QMetaObject::invokeMethod(
        this, [this] { emit JobRunning(); }, Qt::QueuedConnection);
}

void JobObserverBridge::OnJobProgress(int position) {
    // The job sends only changed positions; each one is passed on once, in order.
    QMetaObject::invokeMethod(
        this, [this, position] { emit JobProgress(position); }, Qt::QueuedConnection);
}

void JobObserverBridge::OnJobMessage(const std::string& text, const std::string& caption) {
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(m_mutex);
        if (m_bShutdown) {
            return;
        }
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                       [](const auto& p) { return p.expired(); }),
                        m_pending.end());
        m_pending.push_back(pending);
    }
    QMetaObject::invokeMethod(
        this,
        [this, pending, text = QString::fromStdString(text),
         caption = QString::fromStdString(caption)] { ShowOnGuiThread(pending, text, caption); },
        Qt::QueuedConnection);
    pending->Wait();
}

void JobObserverBridge::OnJobFinished(const JobOutcome& outcome) {
    QMetaObject::invokeMethod(
        this, [this, outcome] { emit JobFinished(outcome); }, Qt::QueuedConnection);
}

void JobObserverBridge::ShowOnGuiThread(const std::shared_ptr<Pending>& pending,
                                        const QString& text, const QString& caption) {
    if (m_bAutoDismiss) {
        pending->Release();
        return;
    }
    emit JobMessageShown(text, caption);
    // The callback holds the waiting state, not the bridge: the box may outlive it.
    m_messages.ShowUnowned(text, caption, [pending] { pending->Release(); });
}

void JobObserverBridge::SetAutoDismiss(bool autoDismiss) {
    m_bAutoDismiss = autoDismiss;
    if (autoDismiss) {
        m_messages.DismissUnowned();
    }
}

void JobObserverBridge::Shutdown() {
    std::lock_guard lock(m_mutex);
    m_bShutdown = true;
    for (const auto& weak : m_pending) {
        if (const auto pending = weak.lock()) {
            pending->Release();
        }
    }
    m_pending.clear();
}
