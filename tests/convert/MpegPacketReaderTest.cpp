// The MPEG packet reader against ffprobe: in program streams and transport streams of
// every packet size, with garbage between packets and cut off at the end, it finds the
// sound's PES packets with the timestamps, and at the byte positions, that libavformat
// gives the sound's packets.
#include "MpegPacketReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ForeignTools.h"
#include "TestMedia.h"

namespace {

using Found = std::vector<std::pair<int64_t, int64_t>>;  // position, 33-bit PTS

enum class Damage { None, Fec204, Garbage, CutShort };

struct Case {
    const char* name;
    const char* source;  // the made file it starts from
    Damage damage;
    MpegPacketReader::Container kind;
    int packetSize;  // 0 for a program stream
};

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The file with the damage done: error correction bytes after each transport packet,
// stretches of garbage (bytes that hold no sync byte and no start code) before some
// packets, or the last 2777 bytes cut off, which leaves a packet cut short.
std::string Damaged(const std::string& bytes, Damage damage, int packetSize) {
    if (damage == Damage::CutShort) {
        return bytes.substr(0, bytes.size() - 2777);
    }
    std::vector<size_t> starts;  // of the packets to put garbage or correction after
    if (packetSize != 0) {
        for (size_t pos = 0; pos + packetSize <= bytes.size(); pos += packetSize) {
            starts.push_back(pos);
        }
    } else {
        for (size_t pos = bytes.find("\0\0\1\xBA", 0, 4); pos != std::string::npos;
             pos = bytes.find("\0\0\1\xBA", pos + 4, 4)) {
            starts.push_back(pos);
        }
    }
    std::string out;
    uint32_t seed = 12345;
    // Not among the first packets, by which a transport stream is told.
    const size_t every = packetSize != 0 ? 50 : 5;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        if (damage == Damage::Garbage && i % every == every / 2) {
            seed = seed * 1103515245 + 12345;
            for (uint32_t n = seed % 300 + 1; n > 0; --n) {
                seed = seed * 1103515245 + 12345;
                out += static_cast<char>(0x80 + (seed >> 16) % 0x7F);
            }
        }
        out += bytes.substr(starts[i], end - starts[i]);
        if (damage == Damage::Fec204) {
            out += std::string(16, '\0');
        }
    }
    return out;
}

// What ffprobe gives the sound's packets that start a PES packet (those with a position).
Found Reference(const std::string& path, int& streamId) {
    std::string out;
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=id -of "
                         "csv=p=0 " +
                             ShellQuote(path),
                         &out),
              0);
    streamId = static_cast<int>(std::stol(out, nullptr, 16));
    out.clear();
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams a:0 -show_entries packet=pts,pos "
                         "-of compact=p=0 " +
                             ShellQuote(path),
                         &out),
              0);
    Found found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t pts = line.find("pts=");
        const size_t pos = line.find("pos=");
        if (pts != std::string::npos && pos != std::string::npos && line[pos + 4] != 'N') {
            // Timestamps before a wrap of the clock come negative, those after it past 2^33.
            const int64_t wrap = MpegPacketReader::kClockWrap;
            found.emplace_back(std::stoll(line.substr(pos + 4)),
                               (std::stoll(line.substr(pts + 4)) % wrap + wrap) % wrap);
        }
    }
    return found;
}

// The stream's PES packets from packet to packet, as the restamping reader goes; each
// timestamp is also written back changed into a copy of its field, which must read so.
Found Stepped(MpegPacketReader& reader, const MpegPacketReader::Stream& stream) {
    Found found;
    MpegPacketReader::Packet packet;
    for (int64_t pos = reader.FindPacket(0, reader.Size()); pos >= 0 && !reader.Cancelled();) {
        if (!reader.PacketAt(pos, packet)) {
            pos = reader.FindPacket(pos + 1, reader.Size());
            continue;
        }
        const bool ours = stream.pid >= 0
                              ? packet.pid == stream.pid && !packet.transportError
                              : packet.startCode == stream.streamId &&
                                    (stream.substreamId < 0 ||
                                     (packet.payloadAt < packet.headerLength &&
                                      packet.header[packet.payloadAt] == stream.substreamId));
        if (ours && packet.ptsAt != 0) {
            const int64_t pts = MpegPacketReader::ReadTimestamp(packet.header + packet.ptsAt);
            found.emplace_back(pos, pts);
            uint8_t field[5];
            std::copy_n(packet.header + packet.ptsAt, 5, field);
            const int64_t moved = (pts + 0x123456789) % MpegPacketReader::kClockWrap;
            MpegPacketReader::WriteTimestamp(field, moved);
            EXPECT_EQ(MpegPacketReader::ReadTimestamp(field), moved);
            EXPECT_TRUE(MpegPacketReader::HasMarkerBits(field));
        }
        pos += packet.length;
    }
    return found;
}

}  // namespace

TEST(MpegPacketReader, FindsTheSoundsPesPacketsWhereLibavformatDoes) {
    const std::string missing = MissingTool({"ffmpeg", "ffprobe"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing << " is not installed";
    }
    TestMedia media;
    const std::string clip =
        "-f lavfi -i testsrc=d=3:s=160x120:r=25 -f lavfi -i sine=d=3:r=48000 -c:v ";
    media.Make("ps", clip + "mpeg1video -c:a mp2 -f mpeg");
    media.Make("vob", clip + "mpeg2video -c:a ac3 -f vob");
    // The 33-bit clock wraps 1.7 s in.
    media.Make("ps-wrap", clip + "mpeg1video -c:a mp2 -output_ts_offset 95442 -f mpeg");
    media.Make("ts", clip + "mpeg1video -c:a mp2 -f mpegts");
    media.Make("m2ts", clip + "mpeg1video -c:a mp2 -f mpegts -mpegts_m2ts_mode 1");
    using C = MpegPacketReader::Container;
    const std::vector<Case> cases = {
        {"ps", "ps", Damage::None, C::Program, 0},
        {"vob", "vob", Damage::None, C::Program, 0},
        {"ps-wrap", "ps-wrap", Damage::None, C::Program, 0},
        {"ts", "ts", Damage::None, C::Transport, 188},
        {"m2ts", "m2ts", Damage::None, C::Transport, 192},
        {"ts-204", "ts", Damage::Fec204, C::Transport, 204},
        {"ps-garbage", "ps", Damage::Garbage, C::Program, 0},
        {"ts-garbage", "ts", Damage::Garbage, C::Transport, 188},
        {"m2ts-garbage", "m2ts", Damage::Garbage, C::Transport, 192},
        {"ps-cut", "ps", Damage::CutShort, C::Program, 0},
        {"ts-cut", "ts", Damage::CutShort, C::Transport, 188},
        {"m2ts-cut", "m2ts", Damage::CutShort, C::Transport, 192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = media.Path(c.source);
        if (c.damage != Damage::None) {
            path = media.Path(c.name);
            const int size = c.damage == Damage::Fec204 ? 188 : c.packetSize;
            std::ofstream(path, std::ios::binary)
                << Damaged(Bytes(media.Path(c.source)), c.damage, size);
        }
        int id = 0;
        const Found expected = Reference(path, id);
        ASSERT_GT(expected.size(), 15u);

        MpegPacketReader reader;
        ASSERT_TRUE(reader.Open(path));
        EXPECT_EQ(reader.Kind(), c.kind);
        EXPECT_EQ(reader.PacketSize(), c.packetSize);
        const MpegPacketReader::Stream stream = MpegPacketReader::StreamOfLibavId(c.kind, id);
        Found walked;
        MpegPacketReader::Pes pes;
        while (reader.NextPes(stream, pes)) {
            walked.emplace_back(pes.pos, pes.pts);
        }
        EXPECT_EQ(walked, expected);
        EXPECT_EQ(Stepped(reader, stream), expected);
    }
}
