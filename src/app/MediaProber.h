#pragma once

#include <functional>
#include <string>

#include "MediaInfo.h"

// Learns a media file's duration and tracks for the dialog without holding up the GUI
// thread: the answer comes later, on the GUI thread.
class MediaProber {
  public:
    // ok is false when the file cannot be opened.
    using Done = std::function<void(bool ok, const MediaInfo& info)>;

    virtual ~MediaProber() = default;
    // Starts probing path (in the file system's encoding). done runs once, on the GUI
    // thread, unless Cancel() comes first. A new probe cancels the one before.
    virtual void Probe(const std::string& path, Done done) = 0;
    // The probe under way, if any, will not answer.
    virtual void Cancel() = 0;
};
