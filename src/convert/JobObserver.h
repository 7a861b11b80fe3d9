#pragma once

#include <string>

struct JobOutcome;

// Something a running conversion must tell the user before it goes on. The engine says
// what happened; each front end puts it into words.
struct JobNotice {
    enum class Kind {
        CannotOpenOutput,  // the output file could not be created
        CannotWrite,       // writing the output failed (also its last flush and close)
        SizeLimit,         // the classic header's 4 GB limit was reached; the file is whole
    };
    Kind kind = Kind::CannotWrite;
    std::string path;  // the output file

    bool operator==(const JobNotice&) const = default;
};

// What a running conversion tells its front end. Every call comes from the job's
// worker thread; OnJobNotice returns only when the user has seen the notice.
class JobObserver {
  public:
    virtual ~JobObserver() = default;
    virtual void OnJobRunning() = 0;
    // Progress position 0..1000; sent only when it changes.
    virtual void OnJobProgress(int position) = 0;
    virtual void OnJobNotice(const JobNotice& notice) = 0;
    // An export of segments starts cutting segment `number` (from 1) of `count`.
    virtual void OnJobSegment(int /*number*/, int /*count*/) {}
    virtual void OnJobFinished(const JobOutcome& outcome) = 0;
};
