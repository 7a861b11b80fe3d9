#include "ExtractObserver.h"

ExtractObserver::ExtractObserver(std::ostream& err) : m_err(err) {}

void ExtractObserver::OnJobProgress(int position) {
    int seen = m_nPosition.load();
    while (position > seen && !m_nPosition.compare_exchange_weak(seen, position)) {
    }
}

std::string ExtractObserver::NoticeText(const JobNotice& notice) {
    switch (notice.kind) {
        case JobNotice::Kind::CannotOpenOutput:
            return "Error: Can not open " + notice.path;
        case JobNotice::Kind::CannotWrite:
            return "Error: Can not write " + notice.path;
        case JobNotice::Kind::SizeLimit:
            return "Warning: The WAV file " + notice.path +
                   " has reached 4 GB, the most a classic WAV file can hold. The conversion "
                   "stopped there; the file holds everything up to that point (-w modern "
                   "writes past it)";
    }
    return "Error: Can not write " + notice.path;
}

void ExtractObserver::OnJobNotice(const JobNotice& notice) {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
    m_err << NoticeText(notice) << std::endl;
}

void ExtractObserver::OnJobFinished(const JobOutcome& outcome) {
    std::lock_guard lock(m_mutex);
    m_outcome = outcome;
    m_finished = true;
    m_cv.notify_all();
}

bool ExtractObserver::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_finished; });
}

JobOutcome ExtractObserver::Outcome() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

void ExtractObserver::ShowProgress(const std::string& text) {
    std::lock_guard lock(m_mutex);
    // Carriage return and erase-to-end-of-line: the line is redrawn in place.
    m_err << '\r' << text << "\x1b[K" << std::flush;
    m_progressShown = true;
}

void ExtractObserver::EndProgress() {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
}

void ExtractObserver::EndProgressLocked() {
    if (m_progressShown) {
        m_err << '\n';
        m_progressShown = false;
    }
}

void ExtractObserver::Print(const std::string& line) {
    std::lock_guard lock(m_mutex);
    EndProgressLocked();
    m_err << line << std::endl;
}
