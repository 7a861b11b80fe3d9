#include "AsyncFileWriter.h"

#include <cstring>
#include <system_error>

AsyncFileWriter::~AsyncFileWriter() {
    Finish();
}

bool AsyncFileWriter::Start(FILE* file) {
    Finish();
    m_file = file;
    m_bFailed = false;
    m_bQuit = false;
    m_bSubmitted = false;
    m_fillingSkip = 0;
    m_filling.clear();
    m_filling.reserve(kBlockSize);
    m_writing.reserve(kBlockSize);
    try {
        m_thread = std::thread(&AsyncFileWriter::Run, this);
    } catch (const std::system_error&) {
        m_file = nullptr;
        return false;
    }
    return true;
}

bool AsyncFileWriter::Skip(size_t count) {
    m_fillingSkip += count;
    return !m_bFailed.load(std::memory_order_relaxed);
}

bool AsyncFileWriter::Write(const uint8_t* data, size_t count) {
    if (m_fillingSkip > 0 && count > 0) {
        Submit();
    }
    while (count > 0) {
        const size_t n = std::min(count, kBlockSize - m_filling.size());
        m_filling.insert(m_filling.end(), data, data + n);
        data += n;
        count -= n;
        if (m_filling.size() == kBlockSize) {
            Submit();
        }
    }
    // Read without the lock: this runs for every small buffer, and a failure seen one
    // call late is still seen before anything more reaches the file.
    return !m_bFailed.load(std::memory_order_relaxed);
}

void AsyncFileWriter::Submit() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_bSubmitted; });
    m_writing.swap(m_filling);
    m_filling.clear();
    m_writingSkip = m_fillingSkip;
    m_fillingSkip = 0;
    m_bSubmitted = true;
    m_cv.notify_all();
}

bool AsyncFileWriter::Finish() {
    if (!m_thread.joinable()) {
        return !m_bFailed;
    }
    if (!m_filling.empty() || m_fillingSkip > 0) {
        Submit();
    }
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
        m_cv.notify_all();
    }
    m_thread.join();
    m_file = nullptr;
    return !m_bFailed;
}

void AsyncFileWriter::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bSubmitted || m_bQuit; });
        if (!m_bSubmitted) {
            return;  // quit with nothing left to write
        }
        const bool failed = m_bFailed;
        lock.unlock();
        // After a failure nothing more is written: the file keeps what came before.
        const bool ok =
            failed ||
            (std::fwrite(m_writing.data(), 1, m_writing.size(), m_file) == m_writing.size() &&
             (m_writingSkip == 0 ||
              std::fseek(m_file, static_cast<long>(m_writingSkip), SEEK_CUR) == 0));
        lock.lock();
        if (!ok) {
            m_bFailed = true;
        }
        m_bSubmitted = false;
        m_cv.notify_all();
    }
}
