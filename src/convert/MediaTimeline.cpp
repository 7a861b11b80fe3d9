#include "MediaTimeline.h"

#include <algorithm>
#include <cstdlib>

#include "MediaTime.h"

namespace {

// a * b / c rounded to nearest, halves away from zero (as libavutil's av_rescale rounds),
// without overflow for any timestamp a file can hold.
int64_t Rescale(int64_t a, int64_t b, int64_t c) {
    const __int128 n = static_cast<__int128>(a) * b;
    const __int128 half = c / 2;
    return static_cast<int64_t>(n >= 0 ? (n + half) / c : -((-n + half) / c));
}

// How far outside a segment's sound a player's time may lie and still belong to it: its
// picture may start before the sound or run on after it.
constexpr int64_t kSpanSlack = MediaTime::kUnitsPerSecond;

}  // namespace

MediaTimeline::MediaTimeline(int tbNum, int tbDen, int64_t origin)
    : m_tbNum(tbNum > 0 ? tbNum : 1), m_tbDen(tbDen > 0 ? tbDen : 1), m_origin(origin) {}

MediaTimeline::MediaTimeline(int tbNum, int tbDen, int64_t origin, std::vector<Segment> segments,
                             std::vector<SeekPoint> seekPoints, int64_t fileSize)
    : MediaTimeline(tbNum, tbDen, origin) {
    if (segments.size() < 2) {
        return;
    }
    m_segments = std::move(segments);
    m_fileSize = fileSize;
    int64_t continuous = m_segments.front().firstPts;
    for (Segment& s : m_segments) {
        m_offsets.push_back(continuous - s.firstPts);
        s.mediaStart = ToRt(continuous) - m_origin;
        continuous += s.endPts - s.firstPts;
    }
    std::sort(seekPoints.begin(), seekPoints.end(),
              [](const SeekPoint& a, const SeekPoint& b) { return a.bytePos < b.bytePos; });
    // Later in the file is later in media time; a point that says otherwise is dropped.
    for (const SeekPoint& p : seekPoints) {
        if (m_seekPoints.empty() || p.mediaTime >= m_seekPoints.back().mediaTime) {
            m_seekPoints.push_back(p);
        }
    }
}

int64_t MediaTimeline::ToRt(int64_t ticks) const {
    return Rescale(ticks, static_cast<int64_t>(m_tbNum) * MediaTime::kUnitsPerSecond, m_tbDen);
}

int64_t MediaTimeline::ToTicks(int64_t rt) const {
    return Rescale(rt, m_tbDen, static_cast<int64_t>(m_tbNum) * MediaTime::kUnitsPerSecond);
}

int64_t MediaTimeline::Duration() const {
    if (m_segments.empty()) {
        return 0;
    }
    const Segment& last = m_segments.back();
    return MediaTimeOf(static_cast<int>(m_segments.size()) - 1, last.endPts);
}

int MediaTimeline::SegmentAt(int64_t bytePos) const {
    const auto after =
        std::upper_bound(m_segments.begin(), m_segments.end(), bytePos,
                         [](int64_t pos, const Segment& s) { return pos < s.bytePos; });
    return after == m_segments.begin() ? 0 : static_cast<int>(after - m_segments.begin()) - 1;
}

int64_t MediaTimeline::Offset(int segment) const {
    if (segment <= 0 || segment >= static_cast<int>(m_offsets.size())) {
        return 0;
    }
    return m_offsets[segment];
}

int64_t MediaTimeline::MediaTimeOf(int segment, int64_t pts) const {
    return ToRt(pts + Offset(segment)) - m_origin;
}

MediaTimeline::Location MediaTimeline::Locate(int64_t t) const {
    Location where;
    const auto after =
        std::upper_bound(m_segments.begin(), m_segments.end(), t,
                         [](int64_t rt, const Segment& s) { return rt < s.mediaStart; });
    where.segment =
        after == m_segments.begin() ? 0 : static_cast<int>(after - m_segments.begin()) - 1;
    where.pts = ToTicks(t + m_origin) - Offset(where.segment);
    where.playerTime = ToRt(where.pts) - m_origin;
    const auto point =
        std::upper_bound(m_seekPoints.begin(), m_seekPoints.end(), t,
                         [](int64_t rt, const SeekPoint& p) { return rt < p.mediaTime; });
    where.bytePos = point == m_seekPoints.begin() ? 0 : std::prev(point)->bytePos;
    return where;
}

int64_t MediaTimeline::FromPlayerTime(int64_t playerTime, std::optional<int64_t> streamPos,
                                      std::optional<int64_t> near) const {
    if (m_segments.empty()) {
        return playerTime;
    }
    const int64_t pts = ToTicks(playerTime + m_origin);
    const int64_t slack = ToTicks(kSpanSlack);
    const int count = static_cast<int>(m_segments.size());
    // The segments that may be playing: read already, and holding the timestamp; failing
    // that, read already; failing that, any.
    for (int pass = 0; pass < 3; ++pass) {
        int chosen = -1;
        int64_t chosenTime = 0;
        for (int k = 0; k < count; ++k) {
            const Segment& s = m_segments[k];
            if (pass < 2 && streamPos && s.bytePos > *streamPos) {
                continue;
            }
            if (pass < 1 && (pts < s.firstPts - slack || pts > s.endPts + slack)) {
                continue;
            }
            const int64_t t = MediaTimeOf(k, pts);
            const bool better =
                chosen < 0 || (near ? std::llabs(t - *near) < std::llabs(chosenTime - *near)
                                    : static_cast<bool>(streamPos));
            if (better) {
                chosen = k;
                chosenTime = t;
            }
        }
        if (chosen >= 0) {
            return chosenTime;
        }
    }
    return playerTime;
}

bool MediaTimeline::IsRestart(int64_t expected, int64_t pts, int tbNum, int tbDen) {
    if (tbNum <= 0 || tbDen <= 0) {
        return false;
    }
    const int64_t jump =
        Rescale(pts - expected, static_cast<int64_t>(tbNum) * MediaTime::kUnitsPerSecond, tbDen);
    return jump < -kBackwardTolerance || jump > kForwardGap;
}
