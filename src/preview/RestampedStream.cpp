#include "RestampedStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "MediaTime.h"

namespace {

constexpr int64_t kPtsWrap = int64_t{1} << 33;
constexpr int64_t kPtsRate = 90000;
// The timestamps of a program stream's PES packet lie within this many bytes of its start
// (an MPEG-1 header may have 16 bytes of stuffing before them).
constexpr size_t kProgramHeaderBytes = 48;
constexpr size_t kTransportPacket = 188;
// Further than this without a packet start is no stream: the bytes are passed on as
// they are.
constexpr int64_t kMaxSearch = 1 << 20;
constexpr size_t kBlock = 64 << 10;
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

// A PTS, DTS or MPEG-1 SCR field: 33 bits in five bytes between marker bits.
bool TimestampField(const uint8_t* p) {
    return (p[0] & 1) != 0 && (p[2] & 1) != 0 && (p[4] & 1) != 0;
}

int64_t ReadTimestamp(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (static_cast<int64_t>(p[1]) << 22) |
           (static_cast<int64_t>(p[2] & 0xFE) << 14) | (static_cast<int64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

void WriteTimestamp(uint8_t* p, int64_t ticks) {
    p[0] = static_cast<uint8_t>((p[0] & 0xF1) | ((ticks >> 29) & 0x0E));
    p[1] = static_cast<uint8_t>(ticks >> 22);
    p[2] = static_cast<uint8_t>(((ticks >> 14) & 0xFE) | 1);
    p[3] = static_cast<uint8_t>(ticks >> 7);
    p[4] = static_cast<uint8_t>(((ticks << 1) & 0xFE) | 1);
}

// PES packets that carry timestamps: private stream 1 (AC-3, DTS, LPCM, subpictures),
// MPEG audio and video, and the extended stream id (VC-1).
bool HasTimestamps(int streamId) {
    return streamId == 0xBD || (streamId >= 0xC0 && streamId <= 0xEF) || streamId == 0xFD;
}

}  // namespace

bool RestampedStream::Needed(const MediaTimeline& timeline) {
    return timeline.HasRestarts() && timeline.TimeBaseNum() == 1 &&
           timeline.TimeBaseDen() == kPtsRate;
}

RestampedStream::RestampedStream(MediaTimeline timeline)
    : m_timeline(std::move(timeline)), m_block(kBlock) {}

RestampedStream::~RestampedStream() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool RestampedStream::Open(const std::string& path) {
    if (!Needed(m_timeline) || m_fd >= 0) {
        return false;
    }
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    m_size = st.st_size;
    // Transport packets keep their sync bytes in step; a program stream starts with a
    // start code.
    for (const int size : {188, 192, 204}) {
        for (int64_t start = 0; start < size; ++start) {
            const uint8_t* p = At(start, static_cast<size_t>(size) * 7 + 1);
            bool inStep = p != nullptr;
            for (int i = 0; inStep && i < 8; ++i) {
                inStep = p[static_cast<size_t>(i) * size] == 0x47;
            }
            if (inStep) {
                m_container = Container::Transport;
                m_packetSize = size;
                return true;
            }
        }
    }
    m_container = Container::Program;
    return FindUnit(0) >= 0;
}

const uint8_t* RestampedStream::At(int64_t pos, size_t count) {
    if (pos >= m_blockStart && pos + static_cast<int64_t>(count) <= m_blockStart + m_blockLength) {
        return m_block.data() + (pos - m_blockStart);
    }
    m_blockStart = pos;
    m_blockLength = 0;
    while (m_blockLength < static_cast<int64_t>(m_block.size())) {
        const ssize_t got =
            ::pread(m_fd, m_block.data() + m_blockLength,
                    m_block.size() - static_cast<size_t>(m_blockLength), pos + m_blockLength);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        m_blockLength += got;
    }
    return static_cast<int64_t>(count) <= m_blockLength ? m_block.data() : nullptr;
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

int64_t RestampedStream::FindUnit(int64_t from) {
    for (int64_t pos = from; pos - from < kMaxSearch; ++pos) {
        const uint8_t* p = At(pos, 4);
        if (p == nullptr) {
            return -1;
        }
        if (m_container == Container::Program) {
            if (p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= 0xB9) {
                return pos;
            }
            continue;
        }
        // A sync byte with another one a packet further on (or the end of the file).
        const uint8_t* next =
            p[0] == 0x47 ? At(pos, static_cast<size_t>(m_packetSize) + 1) : nullptr;
        if (p[0] == 0x47 && (next == nullptr || next[m_packetSize] == 0x47)) {
            return pos;
        }
    }
    return -1;
}

size_t RestampedStream::Unit(int64_t pos, bool restamp, uint8_t* header, size_t& headerLength) {
    const bool transport = m_container == Container::Transport;
    const int64_t left = m_size - pos;
    const size_t avail = static_cast<size_t>(
        std::min<int64_t>(left, transport ? kTransportPacket : kProgramHeaderBytes));
    const uint8_t* p = left > 0 ? At(pos, avail) : nullptr;
    if (p == nullptr) {
        return 0;
    }
    std::memcpy(header, p, avail);
    headerLength = avail;
    if (transport) {
        if (header[0] != 0x47 || avail < kTransportPacket) {
            return 0;
        }
        if (!restamp) {
            return static_cast<size_t>(m_packetSize);
        }
        const int control = (header[3] >> 4) & 3;
        size_t payload = 4;
        if ((control & 2) != 0) {
            const size_t adaptation = header[4];
            if (adaptation >= 7 && (header[5] & 0x10) != 0) {
                RestampPcr(pos, header + 6);
            }
            payload = 5 + adaptation;
        }
        const bool unitStart = (header[1] & 0x40) != 0;
        if (unitStart && (control & 1) != 0 && payload + 9 <= avail && header[payload] == 0 &&
            header[payload + 1] == 0 && header[payload + 2] == 1) {
            RestampPes(pos, header + payload, avail - payload);
        }
        return static_cast<size_t>(m_packetSize);
    }
    if (avail < 6 || header[0] != 0 || header[1] != 0 || header[2] != 1 || header[3] < 0xB9) {
        return 0;
    }
    switch (header[3]) {
        case 0xBA:  // pack header, MPEG-2 or MPEG-1
            if ((header[4] & 0xC0) == 0x40 && avail >= 14) {
                return 14 + (header[13] & 7);
            }
            return (header[4] & 0xF0) == 0x20 ? 12 : 4;
        case 0xB9:  // end code
            return 4;
        default:
            if (restamp) {
                RestampPes(pos, header, avail);
            }
            return 6 + (static_cast<size_t>(header[4]) << 8 | header[5]);
    }
}

void RestampedStream::RestampPes(int64_t pos, uint8_t* pes, size_t avail) {
    if (avail < 9 || !HasTimestamps(pes[3])) {
        return;
    }
    size_t pts = 0;
    size_t dts = 0;
    if ((pes[6] & 0xC0) == 0x80) {  // MPEG-2
        const int flags = pes[7] >> 6;
        pts = (flags & 2) != 0 ? 9 : 0;
        dts = flags == 3 ? 14 : 0;
    } else {  // MPEG-1: stuffing, buffer size, then the timestamps
        size_t i = 6;
        while (i < avail && i < 6 + 16 && pes[i] == 0xFF) {
            ++i;
        }
        if (i < avail && (pes[i] & 0xC0) == 0x40) {
            i += 2;
        }
        if (i < avail && (pes[i] & 0xE0) == 0x20) {
            pts = i;
            dts = (pes[i] & 0xF0) == 0x30 ? i + 5 : 0;
        }
    }
    for (const size_t at : {pts, dts}) {
        if (at != 0 && at + 5 <= avail && TimestampField(pes + at)) {
            WriteTimestamp(pes + at, Continuous(pos, ReadTimestamp(pes + at)));
        }
    }
}

void RestampedStream::RestampPcr(int64_t pos, uint8_t* field) {
    // 33 bits of 90 kHz, 6 reserved bits, 9 bits of 27 MHz.
    const int64_t base = (static_cast<int64_t>(field[0]) << 25) |
                         (static_cast<int64_t>(field[1]) << 17) |
                         (static_cast<int64_t>(field[2]) << 9) |
                         (static_cast<int64_t>(field[3]) << 1) | (field[4] >> 7);
    const int64_t moved = Continuous(pos, base);
    field[0] = static_cast<uint8_t>(moved >> 25);
    field[1] = static_cast<uint8_t>(moved >> 17);
    field[2] = static_cast<uint8_t>(moved >> 9);
    field[3] = static_cast<uint8_t>(moved >> 1);
    field[4] = static_cast<uint8_t>((field[4] & 0x7F) | ((moved & 1) << 7));
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
    if (m_fd < 0 || pos < 0) {
        return -1;
    }
    if (pos >= m_size || count == 0) {
        return 0;
    }
    count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), m_size - pos));
    size_t got = 0;
    while (got < count) {
        const ssize_t r = ::pread(m_fd, out + got, count - got, pos + static_cast<int64_t>(got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0) {
            break;
        }
        got += static_cast<size_t>(r);
    }
    const int64_t end = pos + static_cast<int64_t>(got);
    // Walk the packets from a known start to the end of the read, moving the timestamps
    // of those whose headers fall in it.
    int64_t unit = SyncPointBefore(pos);
    m_resume = -1;
    uint8_t header[kTransportPacket];
    while (unit < end) {
        if (m_container == Container::Transport && unit + m_packetSize <= pos) {
            // Packets in step: straight to the one that holds pos.
            unit += (pos - unit) / m_packetSize * m_packetSize;
        }
        size_t headerLength = 0;
        const bool overlaps = m_container == Container::Transport ||
                              unit + static_cast<int64_t>(kProgramHeaderBytes) > pos;
        const size_t length = Unit(unit, overlaps, header, headerLength);
        if (length == 0) {
            const int64_t next = FindUnit(unit + 1);
            if (next < 0) {
                break;
            }
            unit = next;
            continue;
        }
        const int64_t from = std::max(unit, pos);
        const int64_t to = std::min(unit + static_cast<int64_t>(headerLength), end);
        if (from < to) {
            std::memcpy(out + (from - pos), header + (from - unit), static_cast<size_t>(to - from));
        }
        if (unit + static_cast<int64_t>(length) > end) {
            m_resume = unit;
        }
        unit += static_cast<int64_t>(length);
    }
    if (m_resume < 0 && unit >= end) {
        m_resume = unit;
    }
    return static_cast<int64_t>(got);
}
