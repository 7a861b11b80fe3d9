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
    // The whole answer after an early one whose timeline was pending: info holds the
    // scanned timeline and the duration it gives. ok is false when the scan failed; the
    // container's figures then stand.
    using Scanned = std::function<void(bool ok, const MediaInfo& info)>;

    virtual ~MediaProber() = default;
    // Starts probing path (in the file system's encoding). done runs once, on the GUI
    // thread, unless Cancel() comes first. Where the answer comes before the file's timeline
    // is known (MediaInfo::timelinePending), scanned follows once it is. A new probe
    // cancels the one before.
    virtual void Probe(const std::string& path, Done done, Scanned scanned) = 0;
    // The probe under way, if any, will not answer, nor will its scan.
    virtual void Cancel() = 0;
};
