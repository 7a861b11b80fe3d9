#include "MpegPacketReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr size_t kTransportPacket = 188;
// A program stream's PES header holds its timestamps within this many bytes (an MPEG-1
// header may have 16 bytes of stuffing before them), and a substream id of private
// stream 1 after a header with some stuffing of its own.
constexpr size_t kProgramHeaderBytes = 64;
// A program stream has a header every few kilobytes and a transport stream one every
// 188 bytes: this much without one is no stream at all.
constexpr int64_t kMaxBytesWithoutPacket = 1 << 20;
// A walk over the whole file reads ahead far; a player's reads take a little around each.
constexpr size_t kSequentialBlock = 1 << 20;
constexpr size_t kRandomBlock = 64 << 10;

bool IsStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= 0xB9;
}

// PES packets whose header has timestamps: private stream 1 (AC-3, DTS, LPCM,
// subpictures), MPEG audio and video, and the extended stream id (VC-1, Blu-ray sound).
bool CarriesTimestamps(int streamId) {
    return streamId == 0xBD || (streamId >= 0xC0 && streamId <= 0xEF) || streamId == 0xFD;
}

struct PesFields {
    size_t pts = 0;
    size_t dts = 0;
    size_t payload = 0;
};

// The timestamp fields of the PES header (MPEG-1 or MPEG-2) whose first avail bytes are at
// p; each only where all of its five bytes are there.
PesFields PesHeader(const uint8_t* p, size_t avail) {
    PesFields f;
    if (avail < 9 || !CarriesTimestamps(p[3])) {
        return f;
    }
    if ((p[6] & 0xC0) == 0x80) {
        const int flags = p[7] >> 6;
        f.payload = 9 + static_cast<size_t>(p[8]);
        f.pts = (flags & 2) != 0 && avail >= 14 ? 9 : 0;
        f.dts = flags == 3 && avail >= 19 ? 14 : 0;
        return f;
    }
    // MPEG-1: stuffing, the buffer size, then the timestamps.
    size_t i = 6;
    while (i < avail && i < 6 + 16 && p[i] == 0xFF) {
        ++i;
    }
    if (i < avail && (p[i] & 0xC0) == 0x40) {
        i += 2;
    }
    if (i + 5 <= avail && (p[i] & 0xE0) == 0x20) {
        const bool both = (p[i] & 0xF0) == 0x30;
        f.pts = i;
        f.dts = both && i + 10 <= avail ? i + 5 : 0;
        f.payload = i + (both ? 10 : 5);
    }
    return f;
}

// The length of the program stream packet at p (window bytes of it, at least 6).
int64_t ProgramPacketLength(const uint8_t* p, size_t window) {
    switch (p[3]) {
        case 0xBA:  // pack header, MPEG-2 or MPEG-1
            if ((p[4] & 0xC0) == 0x40 && window >= 14) {
                return 14 + (p[13] & 7);
            }
            return (p[4] & 0xF0) == 0x20 ? 12 : 4;
        case 0xB9:  // end code
            return 4;
        default:
            return 6 + (static_cast<int64_t>(p[4]) << 8 | p[5]);
    }
}

struct TransportFields {
    int pid = 0;
    bool unitStart = false;
    bool error = false;
    bool payload = false;
    size_t pcr = 0;
    size_t pes = 0;  // where a PES header starts, 0 when none does
};

// The 4-byte header and adaptation field of the transport packet at p (188 bytes).
TransportFields TransportHeader(const uint8_t* p) {
    TransportFields f;
    f.pid = (p[1] & 0x1F) << 8 | p[2];
    f.unitStart = (p[1] & 0x40) != 0;
    f.error = (p[1] & 0x80) != 0;
    const int control = (p[3] >> 4) & 3;
    f.payload = (control & 1) != 0;
    size_t payload = 4;
    if ((control & 2) != 0) {
        const size_t adaptation = p[4];
        if (adaptation >= 7 && (p[5] & 0x10) != 0) {
            f.pcr = 6;
        }
        payload = 5 + adaptation;
    }
    if (f.unitStart && f.payload && payload + 9 <= kTransportPacket && p[payload] == 0 &&
        p[payload + 1] == 0 && p[payload + 2] == 1) {
        f.pes = payload;
    }
    return f;
}

}  // namespace

MpegPacketReader::MpegPacketReader(Access access, const std::atomic<bool>* cancel)
    : m_cancel(cancel),
      m_access(access),
      m_block(access == Access::Sequential ? kSequentialBlock : kRandomBlock) {}

MpegPacketReader::~MpegPacketReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool MpegPacketReader::Open(const std::string& path, Container container) {
    if (m_fd >= 0) {
        return false;
    }
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    m_size = st.st_size;
    if (m_access == Access::Sequential) {
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    if (container != Container::Program && DetectTransport()) {
        m_container = Container::Transport;
    } else if (container == Container::Program ||
               (container == Container::Unknown && FindPacket(0, kMaxBytesWithoutPacket) >= 0)) {
        m_container = Container::Program;
        m_walk = 0;
    }
    m_lastFound = m_walk;
    return m_container != Container::Unknown;
}

bool MpegPacketReader::DetectTransport() {
    // The size that keeps eight sync bytes in step.
    m_packetSize = 0;
    for (const int size : {188, 192, 204}) {
        for (int64_t start = 0; start < size; ++start) {
            const uint8_t* p = At(start, static_cast<size_t>(size) * 7 + 1);
            bool inStep = p != nullptr;
            for (int i = 0; inStep && i < 8; ++i) {
                inStep = p[static_cast<size_t>(i) * size] == 0x47;
            }
            if (inStep) {
                m_packetSize = size;
                // libavformat counts a packet from 188 bytes before the end of it.
                m_syncAt = size - static_cast<int>(kTransportPacket);
                m_walk = start - m_syncAt;
                return true;
            }
        }
    }
    return false;
}

const uint8_t* MpegPacketReader::Fill(int64_t pos, size_t count) {
    if (pos < 0 || m_fd < 0 || Cancelled()) {
        return nullptr;
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

size_t MpegPacketReader::ProgramWindow(int64_t pos) const {
    return static_cast<size_t>(
        std::clamp<int64_t>(m_size - pos, 0, static_cast<int64_t>(kProgramHeaderBytes)));
}

bool MpegPacketReader::NextPes(const Stream& stream, Pes& pes) {
    if (m_container == Container::Transport) {
        return stream.pid >= 0 && NextTransportPes(stream.pid, pes);
    }
    return m_container == Container::Program && stream.streamId >= 0 && NextProgramPes(stream, pes);
}

// The two walks run for every packet of a gigabyte file: they keep their place in locals
// and look into the followed stream's packets only.
bool MpegPacketReader::NextTransportPes(int pid, Pes& pes) {
    int64_t pos = m_walk;
    for (;;) {
        const uint8_t* p = At(pos + m_syncAt, kTransportPacket);
        if (p == nullptr) {
            m_walk = pos;
            return false;
        }
        if (p[0] != 0x47) {
            // Lost step: on to the next packet.
            pos = m_walk = FindPacket(pos + 1, m_lastFound + kMaxBytesWithoutPacket);
            if (pos < 0) {
                return false;
            }
            continue;
        }
        m_lastFound = pos;
        if (((p[1] & 0x1F) << 8 | p[2]) != pid) {
            pos += m_packetSize;
            continue;
        }
        m_walk = pos + m_packetSize;
        const TransportFields t = TransportHeader(p);
        const PesFields f =
            t.pes != 0 && !t.error ? PesHeader(p + t.pes, kTransportPacket - t.pes) : PesFields{};
        if (f.pts != 0) {
            pes = {pos, ReadTimestamp(p + t.pes + f.pts)};
            return true;
        }
        pos = m_walk;
    }
}

bool MpegPacketReader::NextProgramPes(const Stream& stream, Pes& pes) {
    int64_t pos = m_walk;
    for (;;) {
        const size_t window = ProgramWindow(pos);
        const uint8_t* p = window >= 6 ? At(pos, window) : nullptr;
        if (p == nullptr) {
            m_walk = pos;
            return false;
        }
        if (!IsStartCode(p)) {
            // A damaged stretch: on to the next packet.
            pos = m_walk = FindPacket(pos + 1, m_lastFound + kMaxBytesWithoutPacket);
            if (pos < 0) {
                return false;
            }
            continue;
        }
        m_lastFound = pos;
        const int64_t length = ProgramPacketLength(p, window);
        if (p[3] != stream.streamId) {
            pos += length;
            continue;
        }
        m_walk = pos + length;
        const size_t avail = static_cast<size_t>(std::min<int64_t>(length, window));
        const PesFields f = PesHeader(p, avail);
        if (f.pts != 0 &&
            (stream.substreamId < 0 || (f.payload < avail && p[f.payload] == stream.substreamId))) {
            pes = {pos, ReadTimestamp(p + f.pts)};
            return true;
        }
        pos = m_walk;
    }
}

bool MpegPacketReader::PacketAt(int64_t pos, Packet& packet) {
    packet = Packet{};
    packet.pos = pos;
    packet.headerPos = pos + m_syncAt;
    if (m_container == Container::Transport) {
        const uint8_t* p = At(packet.headerPos, kTransportPacket);
        if (p == nullptr || p[0] != 0x47) {
            return false;
        }
        const TransportFields t = TransportHeader(p);
        packet.length = m_packetSize;
        packet.header = p;
        packet.headerLength = kTransportPacket;
        packet.pid = t.pid;
        packet.transportError = t.error;
        packet.pcrAt = t.pcr;
        if (t.pes != 0) {
            const PesFields f = PesHeader(p + t.pes, kTransportPacket - t.pes);
            packet.startCode = p[t.pes + 3];
            packet.payloadAt = f.payload != 0 ? t.pes + f.payload : 0;
            packet.ptsAt = f.pts != 0 ? t.pes + f.pts : 0;
            packet.dtsAt = f.dts != 0 ? t.pes + f.dts : 0;
        }
        return true;
    }
    const size_t window = ProgramWindow(pos);
    const uint8_t* p = window >= 6 ? At(pos, window) : nullptr;
    if (p == nullptr || !IsStartCode(p)) {
        return false;
    }
    packet.length = ProgramPacketLength(p, window);
    packet.header = p;
    packet.headerLength = static_cast<size_t>(std::min<int64_t>(packet.length, window));
    packet.startCode = p[3];
    if (p[3] != 0xBA && p[3] != 0xB9) {
        const PesFields f = PesHeader(p, packet.headerLength);
        packet.payloadAt = f.payload;
        packet.ptsAt = f.pts;
        packet.dtsAt = f.dts;
    }
    return true;
}

int64_t MpegPacketReader::FindPacket(int64_t from, int64_t limit) {
    const bool transport = m_container == Container::Transport;
    // The first packet of a file whose packets are longer than 188 bytes may start before
    // the file (libavformat's count).
    for (int64_t pos = std::max<int64_t>(from, -m_syncAt); pos < limit; ++pos) {
        const uint8_t* p = At(pos + m_syncAt, 4);
        if (p == nullptr) {
            return -1;
        }
        if (!transport) {
            if (IsStartCode(p)) {
                return pos;
            }
            continue;
        }
        if (p[0] != 0x47) {
            continue;
        }
        // A sync byte with another one a packet further on (or the end of the file).
        const uint8_t* next = At(pos + m_syncAt, static_cast<size_t>(m_packetSize) + 1);
        if (next == nullptr || next[m_packetSize] == 0x47) {
            return pos;
        }
    }
    return -1;
}

int64_t MpegPacketReader::Read(int64_t pos, uint8_t* out, size_t count) {
    if (m_fd < 0 || pos < 0) {
        return -1;
    }
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
    return static_cast<int64_t>(got);
}

MpegPacketReader::Stream MpegPacketReader::StreamOfLibavId(Container container, int id) {
    Stream s;
    if (container == Container::Transport) {
        s.pid = id;
    } else if (id < 0x100) {
        s.streamId = 0xBD;
        s.substreamId = id;
    } else {
        s.streamId = id & 0xFF;
    }
    return s;
}

int64_t MpegPacketReader::ReadTimestamp(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (static_cast<int64_t>(p[1]) << 22) |
           (static_cast<int64_t>(p[2] & 0xFE) << 14) | (static_cast<int64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

void MpegPacketReader::WriteTimestamp(uint8_t* p, int64_t ticks) {
    p[0] = static_cast<uint8_t>((p[0] & 0xF1) | ((ticks >> 29) & 0x0E));
    p[1] = static_cast<uint8_t>(ticks >> 22);
    p[2] = static_cast<uint8_t>(((ticks >> 14) & 0xFE) | 1);
    p[3] = static_cast<uint8_t>(ticks >> 7);
    p[4] = static_cast<uint8_t>(((ticks << 1) & 0xFE) | 1);
}

bool MpegPacketReader::HasMarkerBits(const uint8_t* p) {
    return (p[0] & 1) != 0 && (p[2] & 1) != 0 && (p[4] & 1) != 0;
}

int64_t MpegPacketReader::ReadPcrBase(const uint8_t* p) {
    // 33 bits of 90 kHz, 6 reserved bits, 9 bits of 27 MHz.
    return (static_cast<int64_t>(p[0]) << 25) | (static_cast<int64_t>(p[1]) << 17) |
           (static_cast<int64_t>(p[2]) << 9) | (static_cast<int64_t>(p[3]) << 1) | (p[4] >> 7);
}

void MpegPacketReader::WritePcrBase(uint8_t* p, int64_t ticks) {
    p[0] = static_cast<uint8_t>(ticks >> 25);
    p[1] = static_cast<uint8_t>(ticks >> 17);
    p[2] = static_cast<uint8_t>(ticks >> 9);
    p[3] = static_cast<uint8_t>(ticks >> 1);
    p[4] = static_cast<uint8_t>((p[4] & 0x7F) | ((ticks & 1) << 7));
}
