#include "ProgressLine.h"

#include <cmath>
#include <cstdio>

#include "MediaTime.h"

ProgressLine::ProgressLine(int64_t span, Clock::time_point start)
    : m_nSpan(span), m_start(start), m_lastDraw(start) {}

std::string ProgressLine::Duration(double seconds) {
    const long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[48];
    if (s < 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    }
    return text;
}

std::string ProgressLine::Text(int position, Clock::time_point now, int64_t rtConverted) const {
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    if (m_nSpan <= 0) {
        // Without a known length there is nothing to count down: how much is done.
        if (rtConverted <= 0) {
            return "elapsed " + Duration(elapsed);
        }
        const double done = static_cast<double>(rtConverted) / MediaTime::kUnitsPerSecond;
        std::string text = "converted " + Duration(done) + "  elapsed " + Duration(elapsed);
        if (elapsed > 0) {
            char speed[32];
            std::snprintf(speed, sizeof speed, "%.1fx", done / elapsed);
            text += std::string("  speed ") + speed;
        }
        return text;
    }
    const int pos = position < 0 ? 0 : (position > 1000 ? 1000 : position);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%5.1f%%", pos / 10.0);
    std::string text = std::string(percent) + "  elapsed " + Duration(elapsed);
    if (pos == 0 || elapsed <= 0) {
        return text + "  speed --  left --";
    }
    const double done = static_cast<double>(m_nSpan) / MediaTime::kUnitsPerSecond * pos / 1000.0;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1fx", done / elapsed);
    const double left = elapsed * (1000 - pos) / pos;
    return text + "  speed " + speed + "  left " + Duration(std::ceil(left));
}

bool ProgressLine::Due(Clock::time_point now) {
    if (m_bDrawn && now - m_lastDraw < kRefresh) {
        return false;
    }
    m_bDrawn = true;
    m_lastDraw = now;
    return true;
}
