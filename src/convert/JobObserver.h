#pragma once

#include <string>

struct JobOutcome;

// What a running conversion tells its front end. Every call comes from the
// job's worker thread; OnJobMessage returns only when the user has seen the text.
class JobObserver {
  public:
    virtual ~JobObserver() = default;
    virtual void OnJobRunning() = 0;
    // Progress position 0..1000; sent only when it changes.
    virtual void OnJobProgress(int position) = 0;
    virtual void OnJobMessage(const std::string& text, const std::string& caption) = 0;
    virtual void OnJobFinished(const JobOutcome& outcome) = 0;
};
