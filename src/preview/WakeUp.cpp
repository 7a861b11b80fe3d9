#include "WakeUp.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <mutex>

#ifdef __linux__
#include <sys/eventfd.h>
#endif

namespace {

// A write from a libmpv thread and the close of the descriptor: libmpv orders its last
// callback before the callback is removed, through locks ThreadSanitizer cannot see; this
// lock, taken by both, shows it.
std::mutex s_descriptors;

}  // namespace

WakeUp::WakeUp(QObject* parent) : QObject(parent) {
#ifdef __linux__
    m_readFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_writeFd = m_readFd;
#else
    int fds[2];
    if (pipe(fds) == 0) {
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_readFd = fds[0];
        m_writeFd = fds[1];
    }
#endif
    if (m_readFd >= 0) {
        m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &WakeUp::Drain);
    }
}

WakeUp::~WakeUp() {
    delete m_notifier;
    const std::lock_guard<std::mutex> lock(s_descriptors);
    if (m_writeFd >= 0 && m_writeFd != m_readFd) {
        close(m_writeFd);
    }
    if (m_readFd >= 0) {
        close(m_readFd);
    }
}

void WakeUp::WakeThrough(int descriptor) {
    const std::lock_guard<std::mutex> lock(s_descriptors);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(descriptor, &one, sizeof one);
}

void WakeUp::Wake() {
    const uint64_t one = 1;
    if (m_writeFd < 0 || write(m_writeFd, &one, sizeof one) <= 0) {
        // Without a descriptor the wake still arrives, through Qt's own queue.
        QMetaObject::invokeMethod(this, &WakeUp::woken, Qt::QueuedConnection);
    }
}

void WakeUp::Drain() {
    uint64_t bytes[16];
    while (read(m_readFd, bytes, sizeof bytes) > 0) {
    }
    emit woken();
}
