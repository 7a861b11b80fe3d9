#include "RestampedStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "MediaTime.h"

namespace {

constexpr int64_t kPtsWrap = MpegPacketReader::kClockWrap;
constexpr int64_t kPtsRate = MpegPacketReader::kClockRate;
// Further than this without a packet start is no stream: the bytes are passed on as
// they are.
constexpr int64_t kMaxSearch = 1 << 20;
// How far the time of the sound guessed from a byte position may be off: half a second.
constexpr int64_t kGuessError = kPtsRate / 2;

int64_t Wrapped(int64_t ticks) {
    return ((ticks % kPtsWrap) + kPtsWrap) % kPtsWrap;
}

// The distance between two 33-bit timestamps, whichever way round the clock is shorter.
int64_t Apart(int64_t a, int64_t b) {
    const int64_t d = Wrapped(a - b);
    return std::min(d, kPtsWrap - d);
}

}  // namespace

bool RestampedStream::Needed(const MediaTimeline& timeline) {
    return timeline.HasRestarts() && timeline.TimeBaseNum() == 1 &&
           timeline.TimeBaseDen() == kPtsRate;
}

RestampedStream::RestampedStream(MediaTimeline timeline)
    : m_timeline(std::move(timeline)), m_reader(MpegPacketReader::Access::Random) {}

bool RestampedStream::Open(const std::string& path) {
    if (!Needed(m_timeline) || m_bOpen) {
        return false;
    }
    m_bOpen = m_reader.Open(path);
    return m_bOpen;
}

int64_t RestampedStream::SyncPointBefore(int64_t pos) const {
    // The seek points and the starts of the pieces are where packets of the sound start.
    int64_t best = 0;
    for (const MediaTimeline::Segment& s : m_timeline.Segments()) {
        if (s.bytePos <= pos) {
            best = std::max(best, s.bytePos);
        }
    }
    const std::vector<MediaTimeline::SeekPoint>& points = m_timeline.SeekPoints();
    const auto after = std::upper_bound(
        points.begin(), points.end(), pos,
        [](int64_t p, const MediaTimeline::SeekPoint& s) { return p < s.bytePos; });
    if (after != points.begin()) {
        best = std::max(best, std::prev(after)->bytePos);
    }
    if (m_resume >= 0 && m_resume <= pos) {
        best = std::max(best, m_resume);
    }
    return best;
}

void RestampedStream::Restamp(const MpegPacketReader::Packet& packet, uint8_t* header) const {
    if (packet.pcrAt != 0) {
        uint8_t* field = header + packet.pcrAt;
        MpegPacketReader::WritePcrBase(
            field, Continuous(packet.pos, MpegPacketReader::ReadPcrBase(field)));
    }
    for (const size_t at : {packet.ptsAt, packet.dtsAt}) {
        if (at != 0 && MpegPacketReader::HasMarkerBits(header + at)) {
            MpegPacketReader::WriteTimestamp(
                header + at, Continuous(packet.pos, MpegPacketReader::ReadTimestamp(header + at)));
        }
    }
}

int64_t RestampedStream::ExpectedAt(int64_t pos) const {
    const std::vector<MediaTimeline::SeekPoint>& points = m_timeline.SeekPoints();
    const auto after = std::upper_bound(
        points.begin(), points.end(), pos,
        [](int64_t p, const MediaTimeline::SeekPoint& s) { return p < s.bytePos; });
    int64_t t = 0;
    if (after == points.end()) {
        t = points.empty() ? 0 : points.back().mediaTime;
    } else if (after == points.begin()) {
        t = after->mediaTime;
    } else {
        // Between two points of the sound the bytes run at an even rate, near enough.
        const MediaTimeline::SeekPoint& a = *std::prev(after);
        const MediaTimeline::SeekPoint& b = *after;
        t = a.mediaTime + static_cast<int64_t>(static_cast<double>(b.mediaTime - a.mediaTime) *
                                               static_cast<double>(pos - a.bytePos) /
                                               static_cast<double>(b.bytePos - a.bytePos));
    }
    const int64_t rt = t + m_timeline.Origin();
    return Wrapped(rt / MediaTime::kUnitsPerSecond * kPtsRate +
                   rt % MediaTime::kUnitsPerSecond * kPtsRate / MediaTime::kUnitsPerSecond);
}

int64_t RestampedStream::Continuous(int64_t pos, int64_t raw) const {
    // The piece where the bytes lie, or a neighbour whose time agrees much better with
    // the sound around them. The sound's time between two seek points is a guess from
    // the bytes, good to a fraction of a second: pieces whose times differ by less (a
    // wrap of the clock, a tiny jump) keep the piece of the bytes.
    const int here = m_timeline.SegmentAt(pos);
    const int count = static_cast<int>(m_timeline.Segments().size());
    const int64_t expected = ExpectedAt(pos);
    int64_t best = Wrapped(raw + m_timeline.Offset(here));
    int64_t bestApart = Apart(best, expected);
    for (const int k : {here - 1, here + 1}) {
        if (k < 0 || k >= count) {
            continue;
        }
        const int64_t moved = Wrapped(raw + m_timeline.Offset(k));
        if (Apart(moved, expected) + kGuessError < bestApart) {
            best = moved;
            bestApart = Apart(moved, expected);
        }
    }
    return best;
}

int64_t RestampedStream::Read(int64_t pos, uint8_t* out, size_t count) {
    if (!m_bOpen || pos < 0) {
        return -1;
    }
    const int64_t size = m_reader.Size();
    if (pos >= size || count == 0) {
        return 0;
    }
    count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size - pos));
    const int64_t got = m_reader.Read(pos, out, count);
    if (got <= 0) {
        return got;
    }
    const int64_t end = pos + got;
    const bool transport = m_reader.Kind() == MpegPacketReader::Container::Transport;
    const int64_t packetSize = m_reader.PacketSize();
    // Walk the packets from a known start to the end of the read, moving the timestamps
    // of those whose headers fall in it.
    int64_t unit = SyncPointBefore(pos);
    m_resume = -1;
    uint8_t header[188];
    MpegPacketReader::Packet packet;
    while (unit < end) {
        if (transport && unit + packetSize <= pos) {
            // Packets in step: straight to the one that holds pos.
            unit += (pos - unit) / packetSize * packetSize;
        }
        if (!m_reader.PacketAt(unit, packet)) {
            const int64_t next = m_reader.FindPacket(unit + 1, unit + 1 + kMaxSearch);
            if (next < 0) {
                break;
            }
            unit = next;
            continue;
        }
        const int64_t from = std::max(packet.headerPos, pos);
        const int64_t to =
            std::min(packet.headerPos + static_cast<int64_t>(packet.headerLength), end);
        if (from < to) {
            std::memcpy(header, packet.header, packet.headerLength);
            Restamp(packet, header);
            std::memcpy(out + (from - pos), header + (from - packet.headerPos),
                        static_cast<size_t>(to - from));
        }
        if (unit + packet.length > end) {
            m_resume = unit;
        }
        unit += packet.length;
    }
    if (m_resume < 0 && unit >= end) {
        m_resume = unit;
    }
    return got;
}
