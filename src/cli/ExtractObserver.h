#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>

#include "ConversionJob.h"
#include "JobObserver.h"

// Takes the job's reports for the command. The worker's messages go straight to
// the error stream; progress is only recorded, and the main thread draws it. One
// lock keeps the worker's lines and the progress line from mixing.
class ExtractObserver : public JobObserver {
  public:
    explicit ExtractObserver(std::ostream& err);

    void OnJobRunning() override {}
    void OnJobProgress(int position) override;
    void OnJobNotice(const JobNotice& notice) override;
    void OnJobFinished(const JobOutcome& outcome) override;

    // A notice in the command's words: "Error: Can not write PATH".
    static std::string NoticeText(const JobNotice& notice);

    // Waits up to timeout for the job's end; true once it has finished.
    bool WaitFinished(std::chrono::milliseconds timeout);
    // The furthest position reached; the job's reset to 0 at its end is not counted.
    int Position() const { return m_nPosition.load(); }
    JobOutcome Outcome() const;
    // Redraws the progress line in place.
    void ShowProgress(const std::string& text);
    // Ends a progress line that is shown, so that the next output starts on a line of its own.
    void EndProgress();
    // A line of the command's own.
    void Print(const std::string& line);

  private:
    void EndProgressLocked();

    std::ostream& m_err;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<int> m_nPosition{0};
    bool m_finished = false;
    bool m_progressShown = false;
    JobOutcome m_outcome;
};
