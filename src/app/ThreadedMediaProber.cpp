#include "ThreadedMediaProber.h"

#include <algorithm>

#include "ThreadPriority.h"
#include "WakeUp.h"

struct ThreadedMediaProber::Task {
    std::string path;
    Done done;
    Scanned scanned;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    bool answered = false;  // done has run (GUI thread only)
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

void ThreadedMediaProber::Probe(const std::string& path, Done done, Scanned scanned) {
    Cancel();
    JoinFinished();
    auto task = std::make_shared<Task>();
    task->path = path;
    task->done = std::move(done);
    task->scanned = std::move(scanned);
    m_current = task;
    m_tasks.push_back(task);
    task->thread = std::thread([this, task, factory = m_factory] {
        std::unique_ptr<AudioStreamSource> source = factory();
        source->SetInterrupt(&task->cancelled);
        Answer whole{task, false, true, {}};
        whole.ok = source->ProbeMediaInSteps(task->path, whole.info, [&](const MediaInfo& early) {
            Post({task, true, false, early});
            // The file is open in the dialog: the scan goes on behind what the user does.
            ThreadPriority::LowerForBackgroundWork();
        });
        Post(std::move(whole));
        task->finished.store(true);
        m_wake->Wake();
    });
}

void ThreadedMediaProber::Post(Answer answer) {
    {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(std::move(answer));
    }
    m_wake->Wake();
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
        Answer answer;
        {
            std::lock_guard lock(m_mutex);
            if (m_answers.empty()) {
                break;
            }
            answer = std::move(m_answers.front());
            m_answers.pop_front();
        }
        Task& task = *answer.task;
        if (answer.task != m_current || task.cancelled.load()) {
            continue;
        }
        if (answer.whole) {
            m_current.reset();
        }
        // The receiver may start another probe from here.
        if (!task.answered) {
            task.answered = true;
            const Done done = std::move(task.done);
            done(answer.ok, answer.info);
        } else if (answer.whole && task.scanned) {
            const Scanned scanned = std::move(task.scanned);
            scanned(answer.ok, answer.info);
        }
    }
    JoinFinished();
}
