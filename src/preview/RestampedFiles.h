#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "MediaTimeline.h"

struct mpv_handle;

// The files libmpv reads through a protocol of ours, from a reader that makes restarting
// timestamps continuous ("orvanerestamped://<number>/clip.mpg"), by number. libmpv opens
// and reads them on its own threads, and a core may outlive its engine (the reaper
// destroys it later): the table is never destroyed, and each open stream holds a copy of
// what it reads.
class RestampedFiles {
  public:
    struct File {
        std::string path;
        MediaTimeline timeline;
    };

    static RestampedFiles& Instance();
    uint64_t Add(File file);
    void Remove(uint64_t number);
    bool Find(uint64_t number, File& file);

    // Lets a core open the protocol's URLs; false when libmpv refuses.
    static bool Register(mpv_handle* mpv);
    // What libmpv loads for the file added as `number`, with the original's extension.
    static std::string Url(uint64_t number, const std::string& path);

  private:
    std::mutex m_mutex;
    std::map<uint64_t, File> m_files;
    uint64_t m_last = 0;
};
