#include "RestampedFiles.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <cctype>
#include <memory>

#include "RestampedStream.h"

namespace {

// ".mpg" of "/a/b.mpg": libavformat's probe may look at it. Empty when the name has none
// or an odd one.
std::string ExtensionOf(const std::string& path) {
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.' || path.size() - dot > 6) {
        return {};
    }
    for (size_t i = dot + 1; i < path.size(); ++i) {
        if (std::isalnum(static_cast<unsigned char>(path[i])) == 0) {
            return {};
        }
    }
    return path.substr(dot);
}

constexpr char kRestampedProtocol[] = "orvanerestamped";

struct RestampedCookie {
    explicit RestampedCookie(MediaTimeline timeline) : stream(std::move(timeline)) {}
    RestampedStream stream;
    int64_t pos = 0;
};

int64_t ReadRestamped(void* cookie, char* buffer, uint64_t count) {
    auto* c = static_cast<RestampedCookie*>(cookie);
    const int64_t got = c->stream.Read(c->pos, reinterpret_cast<uint8_t*>(buffer), count);
    if (got > 0) {
        c->pos += got;
    }
    return got;
}

int64_t SeekRestamped(void* cookie, int64_t offset) {
    auto* c = static_cast<RestampedCookie*>(cookie);
    if (offset < 0 || offset > c->stream.Size()) {
        return MPV_ERROR_GENERIC;
    }
    c->pos = offset;
    return offset;
}

int64_t SizeOfRestamped(void* cookie) {
    return static_cast<RestampedCookie*>(cookie)->stream.Size();
}

void CloseRestamped(void* cookie) {
    delete static_cast<RestampedCookie*>(cookie);
}

int OpenRestamped(void* userData, char* /*uri*/, mpv_stream_cb_info* info) {
    RestampedFiles::File file;
    if (!static_cast<RestampedFiles*>(userData)->Served(file)) {
        return MPV_ERROR_LOADING_FAILED;
    }
    auto cookie = std::make_unique<RestampedCookie>(std::move(file.timeline));
    if (!cookie->stream.Open(file.path)) {
        return MPV_ERROR_LOADING_FAILED;
    }
    info->cookie = cookie.release();
    info->read_fn = &ReadRestamped;
    info->seek_fn = &SeekRestamped;
    info->size_fn = &SizeOfRestamped;
    info->close_fn = &CloseRestamped;
    return 0;
}

}  // namespace

bool RestampedFiles::Register(mpv_handle* mpv) {
    m_registered.store(true, std::memory_order_release);
    return mpv_stream_cb_add_ro(mpv, kRestampedProtocol, this, &OpenRestamped) >= 0;
}

std::string RestampedFiles::Serve(File file) {
    const std::string url = std::string(kRestampedProtocol) + "://clip" + ExtensionOf(file.path);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_file = std::move(file);
    m_serving = true;
    return url;
}

bool RestampedFiles::Served(File& file) {
    if (!m_registered.load(std::memory_order_acquire)) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_serving) {
        return false;
    }
    file = m_file;
    return true;
}
