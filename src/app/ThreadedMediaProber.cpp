#include "ThreadedMediaProber.h"

#include <algorithm>

#include "WakeUp.h"

struct ThreadedMediaProber::Task {
    std::string path;
    Done done;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    bool ok = false;
    MediaInfo info;
    std::thread thread;
};

ThreadedMediaProber::ThreadedMediaProber(ConversionJob::SourceFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_wake(new WakeUp(this)) {
    connect(m_wake, &WakeUp::woken, this, &ThreadedMediaProber::Deliver);
}

ThreadedMediaProber::~ThreadedMediaProber() {
    for (const std::shared_ptr<Task>& task : m_tasks) {
        task->cancelled.store(true);
    }
    for (const std::shared_ptr<Task>& task : m_tasks) {
        if (task->thread.joinable()) {
            task->thread.join();
        }
    }
}

void ThreadedMediaProber::Probe(const std::string& path, Done done) {
    Cancel();
    JoinFinished();
    auto task = std::make_shared<Task>();
    task->path = path;
    task->done = std::move(done);
    m_current = task;
    m_tasks.push_back(task);
    task->thread = std::thread([this, task, factory = m_factory] {
        std::unique_ptr<AudioStreamSource> source = factory();
        source->SetInterrupt(&task->cancelled);
        task->ok = source->ProbeMedia(task->path, task->info);
        task->finished.store(true);
        {
            std::lock_guard lock(m_mutex);
            m_done.push_back(task);
        }
        m_wake->Wake();
    });
}

void ThreadedMediaProber::Cancel() {
    if (m_current) {
        m_current->cancelled.store(true);
        m_current.reset();
    }
}

void ThreadedMediaProber::JoinFinished() {
    // A finished thread is about to return, so joining it is short.
    auto end = std::remove_if(m_tasks.begin(), m_tasks.end(), [](const std::shared_ptr<Task>& t) {
        if (!t->finished.load()) {
            return false;
        }
        t->thread.join();
        return true;
    });
    m_tasks.erase(end, m_tasks.end());
}

void ThreadedMediaProber::Deliver() {
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_done.empty()) {
                break;
            }
            task = std::move(m_done.front());
            m_done.pop_front();
        }
        if (task == m_current && !task->cancelled.load()) {
            m_current.reset();
            // The receiver may start another probe from here.
            const Done done = std::move(task->done);
            done(task->ok, task->info);
        }
    }
    JoinFinished();
}
