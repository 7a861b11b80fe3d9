#pragma once

#include <sys/resource.h>

#include <csignal>

// Stands in for a full disk while it lives: writes past the limit fail with EFBIG
// (SIGXFSZ ignored) instead of killing the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_bActive = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return m_bActive; }

  private:
    struct rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_bActive = false;
};
