#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "MediaTimeline.h"

struct mpv_handle;

// The file one libmpv core reads through a protocol of ours, from a reader that makes
// restarting timestamps continuous ("orvanerestamped://clip.mpg"). libmpv opens and reads
// it on its own threads, reaching this object through the protocol's user data: it must
// live until the core is gone (the reaper keeps it that long), and each open stream holds
// a copy of what it reads.
class RestampedFiles {
  public:
    struct File {
        std::string path;
        MediaTimeline timeline;
    };

    // Lets the core open the protocol's URL; false when libmpv refuses.
    bool Register(mpv_handle* mpv);
    // Serves the file; returns what libmpv loads, with the original's extension.
    std::string Serve(File file);
    // The file served; false when none is.
    bool Served(File& file);

  private:
    // Set once the object is whole, before libmpv learns of it. libmpv hands the user data
    // to its threads through locks of its own, which ThreadSanitizer cannot see; reading
    // this first shows it that the construction came before.
    std::atomic<bool> m_registered{false};
    std::mutex m_mutex;
    File m_file;
    bool m_serving = false;
};
