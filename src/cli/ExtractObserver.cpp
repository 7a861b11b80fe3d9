#include "ExtractObserver.h"

ExtractObserver::ExtractObserver(std::ostream& err) : m_err(err) {}

void ExtractObserver::OnJobProgress(int position) {
    int seen = m_nPosition.load();
    while (position > seen && !m_nPosition.compare_exchange_weak(seen, position)) {
    }
}

void ExtractObserver::OnJobMessage(const std::string& text, const std::string& caption) {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
    // The job's captions are "Error" and "Warning"; either is the line's prefix.
    m_err << (caption == "Warning" ? "Warning: " : "Error: ") << text << std::endl;
    m_bMessageShown = true;
}

void ExtractObserver::OnJobFinished(const JobOutcome& outcome) {
    std::lock_guard lock(m_mutex);
    m_outcome = outcome;
    m_bFinished = true;
    m_cv.notify_all();
}

bool ExtractObserver::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_bFinished; });
}

JobOutcome ExtractObserver::Outcome() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

bool ExtractObserver::MessageShown() const {
    std::lock_guard lock(m_mutex);
    return m_bMessageShown;
}

void ExtractObserver::ShowProgress(const std::string& text) {
    std::lock_guard lock(m_mutex);
    // Carriage return and erase-to-end-of-line: the line is redrawn in place.
    m_err << '\r' << text << "\x1b[K" << std::flush;
    m_bProgressShown = true;
}

void ExtractObserver::EndProgress() {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
}

void ExtractObserver::EndProgressLocked() {
    if (m_bProgressShown) {
        m_err << '\n';
        m_bProgressShown = false;
    }
}

void ExtractObserver::Print(const std::string& line) {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
    m_err << line << std::endl;
}
