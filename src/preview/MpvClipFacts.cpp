#include "MpvClipFacts.h"

#include <mpv/client.h>

#include "MediaTime.h"

void MpvClipFacts::Ask(mpv_handle* mpv, uint64_t firstId) {
    static constexpr struct {
        const char* name;
        mpv_format format;
    } kAsked[kQuestions] = {
        {"current-tracks/video/id", MPV_FORMAT_INT64},
        {"current-tracks/audio/id", MPV_FORMAT_INT64},
        // The stream's own size is known as soon as the file is loaded; the decoded size
        // only after the first frame.
        {"current-tracks/video/demux-w", MPV_FORMAT_INT64},
        {"current-tracks/video/demux-h", MPV_FORMAT_INT64},
        {"duration", MPV_FORMAT_DOUBLE},
    };
    *this = MpvClipFacts{};
    m_firstId = firstId;
    for (uint64_t i = 0; i < kQuestions; ++i) {
        if (mpv_get_property_async(mpv, firstId + i, kAsked[i].name, kAsked[i].format) >= 0) {
            ++m_pending;
        }
    }
}

bool MpvClipFacts::Take(const mpv_event& reply) {
    if (reply.reply_userdata < m_firstId || reply.reply_userdata >= m_firstId + kQuestions ||
        m_pending == 0) {
        return false;
    }
    const auto* property = static_cast<const mpv_event_property*>(reply.data);
    const bool known = reply.error >= 0 && property->format != MPV_FORMAT_NONE;
    const auto integer = [&] { return known ? *static_cast<const int64_t*>(property->data) : 0; };
    switch (reply.reply_userdata - m_firstId) {
        case 0:
            video = known;
            break;
        case 1:
            audio = known;
            break;
        case 2:
            width = integer();
            break;
        case 3:
            height = integer();
            break;
        default:
            duration =
                known ? MediaTime::FromSeconds(*static_cast<const double*>(property->data)) : 0;
            break;
    }
    --m_pending;
    return true;
}

QSize MpvClipFacts::Size() const {
    return video && width > 0 && height > 0
               ? QSize(static_cast<int>(width), static_cast<int>(height))
               : QSize();
}
