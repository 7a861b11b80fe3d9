#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The packets of an MPEG program or transport stream in a file, read by their headers
// alone: pack headers and PES headers, or transport packets. Both the timeline scan (one
// walk over a whole file for the timestamps of its sound) and the preview's restamping
// reader (the packets around each of a player's reads, whose timestamps it rewrites) read
// through it, so that they see the same packets in the same places.
//
// Positions are the ones libavformat gives its packets, so that they can be compared with
// its own: where a pack header or PES packet starts, and 188 bytes before the end of a
// transport packet: at the sync byte of 188-byte packets, at the timecode before it of
// 192-byte ones, and 16 bytes before it (in the error correction of the packet before)
// of 204-byte ones. A first packet may so start before the file.
//
// The file is read, not mapped: a file cut short while it is read must not end the
// program. One reader serves one caller at a time.
class MpegPacketReader {
  public:
    enum class Container { Unknown, Program, Transport };
    // How the file is read: a walk over the whole file reads far ahead, a player's reads
    // that jump about only a little around each.
    enum class Access { Sequential, Random };

    // The PES packets of one stream: in a program stream by their stream id (and, in
    // private stream 1, by the substream id that is the payload's first byte), in a
    // transport stream by their PID.
    struct Stream {
        int pid = -1;
        int streamId = -1;
        int substreamId = -1;
    };
    // A PES packet of a stream with its presentation timestamp, 33 bits as the file holds
    // them. In a transport stream the packet is the one the PES header starts in.
    struct Pes {
        int64_t pos = 0;
        int64_t pts = 0;
    };
    // One packet: a pack header, PES packet or end code of a program stream, or a
    // transport packet. The offsets count from header and are 0 where there is no such
    // field.
    struct Packet {
        int64_t pos = 0;
        int64_t length = 0;  // to the next packet, when the stream runs on without a gap
        // The bytes read of it (a transport packet's 188, a program stream packet's first
        // ones), valid until the reader reads again; headerPos is where header[0] lies.
        const uint8_t* header = nullptr;
        int64_t headerPos = 0;
        size_t headerLength = 0;
        int pid = -1;  // transport packets
        bool transportError = false;
        size_t pcrAt = 0;
        int startCode = -1;    // pack 0xBA, end 0xB9, else the PES stream id
        size_t payloadAt = 0;  // where the payload of a PES header in it starts
        size_t ptsAt = 0;
        size_t dtsAt = 0;
    };

    // MPEG's clock: 90 kHz, 33 bits.
    static constexpr int64_t kClockRate = 90000;
    static constexpr int64_t kClockWrap = int64_t{1} << 33;

    // cancel: a flag that, once set, makes every read that needs the disk fail, or nullptr.
    explicit MpegPacketReader(Access access = Access::Random,
                              const std::atomic<bool>* cancel = nullptr);
    ~MpegPacketReader();
    MpegPacketReader(const MpegPacketReader&) = delete;
    MpegPacketReader& operator=(const MpegPacketReader&) = delete;

    // Opens a regular file. container Unknown tells the kind from the bytes: a transport
    // stream keeps its sync bytes in step, a program stream has a start code in its first
    // megabyte. Given a kind, only the transport packet size is found. False when the file
    // cannot be read or is not of the kind.
    bool Open(const std::string& path, Container container = Container::Unknown);
    Container Kind() const { return m_container; }
    // 188, 192 (timecode first) or 204 (error correction after) for a transport stream.
    int PacketSize() const { return m_packetSize; }
    int64_t Size() const { return m_size; }
    bool Cancelled() const { return m_cancel != nullptr && m_cancel->load(); }

    // The next PES packet of the stream with a timestamp, in a walk from the start of the
    // file; false at the end of the walk: the end of the file, a cancel, or a megabyte
    // without any packet (a hole, data appended to the stream).
    bool NextPes(const Stream& stream, Pes& pes);

    // The packet that starts at pos; false when none starts there (or the file ends in it).
    bool PacketAt(int64_t pos, Packet& packet);
    // The next place at or after from, and before limit, where a packet starts, found by
    // its start code or by a sync byte with another one a packet further on; -1 when
    // there is none.
    int64_t FindPacket(int64_t from, int64_t limit);
    // Up to count bytes at pos as the file holds them: how many, 0 at the end, -1 on an
    // error.
    int64_t Read(int64_t pos, uint8_t* out, size_t count);

    // The stream that libavformat's AVStream::id names: a program stream's start code
    // (0x1C0) or substream id (0x80), a transport stream's PID.
    static Stream StreamOfLibavId(Container container, int id);

    // A PTS or DTS field: 33 bits in five bytes between marker bits.
    static int64_t ReadTimestamp(const uint8_t* field);
    static void WriteTimestamp(uint8_t* field, int64_t ticks);
    static bool HasMarkerBits(const uint8_t* field);
    // The 90 kHz base of a PCR field (33 bits; the 27 MHz extension is left as it is).
    static int64_t ReadPcrBase(const uint8_t* field);
    static void WritePcrBase(uint8_t* field, int64_t ticks);

  private:
    // Bytes pos .. pos + count - 1 from the block cache, or nullptr where the file ends
    // before them or once cancelled. Inline, as the walks ask for every packet.
    const uint8_t* At(int64_t pos, size_t count) {
        if (pos >= m_blockStart &&
            pos + static_cast<int64_t>(count) <= m_blockStart + m_blockLength) {
            return m_block.data() + (pos - m_blockStart);
        }
        return Fill(pos, count);
    }
    // Reads the block that starts at pos.
    const uint8_t* Fill(int64_t pos, size_t count);
    bool DetectTransport();
    bool NextTransportPes(int pid, Pes& pes);
    bool NextProgramPes(const Stream& stream, Pes& pes);
    // Bytes of the program stream packet at pos that hold its header (at most 64).
    size_t ProgramWindow(int64_t pos) const;

    const std::atomic<bool>* m_cancel;
    Access m_access;
    int m_fd = -1;
    int64_t m_size = 0;
    Container m_container = Container::Unknown;
    int m_packetSize = 0;
    int m_syncAt = 0;  // from a transport packet's position to its sync byte
    std::vector<uint8_t> m_block;
    int64_t m_blockStart = 0;
    int64_t m_blockLength = 0;
    // The walk: where it looks next, and where it last found a packet.
    int64_t m_walk = 0;
    int64_t m_lastFound = 0;
};
