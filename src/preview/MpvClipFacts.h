#pragma once

#include <QSize>

#include <cstdint>

struct mpv_handle;
struct mpv_event;

// What a clip holds, asked of libmpv once as the clip loads (whether it has a picture and
// sound, the picture's size, the duration); the answers come as replies, in any order.
class MpvClipFacts {
  public:
    // Sends the questions; replies carry ids from `firstId` on.
    void Ask(mpv_handle* mpv, uint64_t firstId);
    // Takes a reply; false when it answers none of the questions.
    bool Take(const mpv_event& reply);
    bool Complete() const { return m_pending == 0; }

    bool video = false;
    bool audio = false;
    int64_t width = 0;
    int64_t height = 0;
    int64_t duration = 0;

    // The picture's size; invalid without a picture or a known size.
    QSize Size() const;

    static constexpr uint64_t kQuestions = 5;

  private:
    uint64_t m_firstId = 0;
    int m_pending = 0;
};
