// The MPEG packet reader against ffprobe: in program streams and transport streams of
// every packet size, with garbage between packets and cut off at the end, it finds the
// sound's PES packets with the timestamps, and at the byte positions, that libavformat
// gives the sound's packets.
#include "MpegPacketReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "FfmpegAudioSource.h"
#include "ForeignTools.h"
#include "MediaInfo.h"
#include "TestMedia.h"

namespace {

using Found = std::vector<std::pair<int64_t, int64_t>>;  // position, 33-bit PTS

enum class Damage { None, Fec204, Garbage, CutShort, CutInTimestamp, BufferFields };

struct ReaderCase {
    const char* name;
    const char* source;  // the made file it starts from
    Damage damage;
    int packetSize;  // of a transport stream; 0 for a program stream
};

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The file with the damage done: the last 2777 bytes cut off (a packet is cut short),
// the file cut in the timestamp of the last sound PES header that has one (MPEG-1
// program streams), error correction after each transport packet, stretches of garbage
// (without sync bytes or start codes) before some packets, or two bytes of stuffing and
// the buffer size before the timestamps of an MPEG-1 program stream's sound, as muxers
// other than FFmpeg's write them (in the PES packets right after a pack header).
std::string Damaged(const std::string& bytes, Damage damage, int packetSize) {
    if (damage == Damage::CutShort) {
        return bytes.substr(0, bytes.size() - 2777);
    }
    if (damage == Damage::CutInTimestamp) {
        size_t pes = bytes.rfind("\0\0\1\xC0", std::string::npos, 4);
        while ((bytes[pes + 6] & 0xE0) != 0x20) {
            pes = bytes.rfind("\0\0\1\xC0", pes - 1, 4);
        }
        return bytes.substr(0, pes + 9);
    }
    std::vector<size_t> starts;
    for (size_t pos = 0; pos < bytes.size() && pos != std::string::npos;) {
        starts.push_back(pos);
        pos = packetSize != 0 ? pos + packetSize : bytes.find("\0\0\1\xBA", pos + 4, 4);
    }
    std::string out;
    uint32_t seed = 12345;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        std::string packet = bytes.substr(starts[i], end - starts[i]);
        for (uint32_t n = damage == Damage::Garbage && i % 20 == 10 ? seed % 300 + 1 : 0; n > 0;
             --n) {
            seed = seed * 1103515245 + 12345;
            out += static_cast<char>(0x80 + (seed >> 16) % 0x7F);
        }
        if (damage == Damage::Fec204) {
            packet += std::string(16, '\0');
        }
        if (damage == Damage::BufferFields && packet.compare(12, 4, "\0\0\1\xC0", 4) == 0) {
            const int length =
                static_cast<uint8_t>(packet[16]) << 8 | static_cast<uint8_t>(packet[17]);
            packet[16] = static_cast<char>((length + 4) >> 8);
            packet[17] = static_cast<char>(length + 4);
            packet.insert(18, "\xFF\xFF\x60\x20", 4);
        }
        out += packet;
    }
    return out;
}

// What ffprobe gives the sound's packets that start a PES packet (those with a position),
// and the sound's stream id.
Found Reference(const std::string& path, int& streamId) {
    std::string out;
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                         "stream=id:packet=pts,pos -of compact=p=0 " +
                             ShellQuote(path),
                         &out),
              0);
    Found found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t pts = line.find("pts=");
        const size_t pos = line.find("pos=");
        if (line.rfind("id=", 0) == 0) {
            streamId = static_cast<int>(std::stol(line.substr(3), nullptr, 16));
        } else if (pts != std::string::npos && pos != std::string::npos && line[pos + 4] != 'N') {
            // Timestamps before a wrap of the clock come negative, those after it past 2^33.
            const int64_t wrap = MpegPacketReader::kClockWrap;
            found.emplace_back(std::stoll(line.substr(pos + 4)),
                               (std::stoll(line.substr(pts + 4)) % wrap + wrap) % wrap);
        }
    }
    return found;
}

// A changed value written into a copy of a field reads back so, and the old value
// written back gives the field's bytes again (its marker and reserved bits kept).
template <typename Read, typename Write>
bool WritesBack(const uint8_t* at, size_t size, Read read, Write write) {
    uint8_t field[6];
    std::copy_n(at, size, field);
    const int64_t old = read(field);
    const int64_t moved = (old + 0x123456789) % MpegPacketReader::kClockWrap;
    write(field, moved);
    const bool readsBack = read(field) == moved;
    write(field, old);
    return readsBack && std::equal(field, field + size, at);
}

struct Stepped {
    Found pes;
    std::vector<int64_t> pcrs;  // their 90 kHz bases
    size_t misread = 0;         // fields that WritesBack fails
};

// The stream's PES packets and every PCR, from packet to packet as the restamping
// reader goes.
Stepped StepThrough(MpegPacketReader& reader, const MpegPacketReader::Stream& stream) {
    using R = MpegPacketReader;
    Stepped found;
    R::Packet packet;
    for (int64_t pos = reader.FindPacket(0, reader.Size()); pos >= 0;) {
        if (!reader.PacketAt(pos, packet)) {
            pos = reader.FindPacket(pos + 1, reader.Size());
            continue;
        }
        const uint8_t* h = packet.header;
        const bool ours = stream.pid >= 0 ? packet.pid == stream.pid && !packet.transportError
                                          : packet.startCode == stream.streamId &&
                                                (stream.substreamId < 0 ||
                                                 (packet.payloadAt < packet.headerLength &&
                                                  h[packet.payloadAt] == stream.substreamId));
        if (ours && packet.ptsAt != 0) {
            found.pes.emplace_back(pos, R::ReadTimestamp(h + packet.ptsAt));
            found.misread +=
                WritesBack(h + packet.ptsAt, 5, R::ReadTimestamp, R::WriteTimestamp) ? 0 : 1;
        }
        if (packet.pcrAt != 0) {
            found.pcrs.push_back(R::ReadPcrBase(h + packet.pcrAt));
            found.misread +=
                WritesBack(h + packet.pcrAt, 6, R::ReadPcrBase, R::WritePcrBase) ? 0 : 1;
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
    const std::vector<ReaderCase> cases = {
        {"ps", "ps", Damage::None, 0},
        {"vob", "vob", Damage::None, 0},
        {"ps-wrap", "ps-wrap", Damage::None, 0},
        {"ts", "ts", Damage::None, 188},
        {"m2ts", "m2ts", Damage::None, 192},
        {"ts-204", "ts", Damage::Fec204, 204},
        {"ps-garbage", "ps", Damage::Garbage, 0},
        {"ts-garbage", "ts", Damage::Garbage, 188},
        {"m2ts-garbage", "m2ts", Damage::Garbage, 192},
        {"ps-cut", "ps", Damage::CutShort, 0},
        {"ps-cut-in-timestamp", "ps", Damage::CutInTimestamp, 0},
        {"ps-buffer-fields", "ps", Damage::BufferFields, 0},
        {"ts-cut", "ts", Damage::CutShort, 188},
        {"m2ts-cut", "m2ts", Damage::CutShort, 192},
    };
    for (const ReaderCase& c : cases) {
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
        const MpegPacketReader::Container kind = c.packetSize != 0
                                                     ? MpegPacketReader::Container::Transport
                                                     : MpegPacketReader::Container::Program;
        EXPECT_EQ(reader.Kind(), kind);
        EXPECT_EQ(reader.PacketSize(), c.packetSize);
        const MpegPacketReader::Stream stream = MpegPacketReader::StreamOfLibavId(kind, id);
        Found walked;
        MpegPacketReader::Pes pes;
        while (reader.NextPes(stream, pes)) {
            walked.emplace_back(pes.pos, pes.pts);
        }
        EXPECT_EQ(walked, expected);
        const Stepped stepped = StepThrough(reader, stream);
        EXPECT_EQ(stepped.pes, expected);
        EXPECT_EQ(stepped.misread, 0u);
        // A transport stream's clock runs within a second or so of its timestamps.
        EXPECT_EQ(stepped.pcrs.empty(), c.packetSize == 0);
        if (!stepped.pcrs.empty()) {
            EXPECT_LT(std::abs(stepped.pcrs[0] - expected[0].second),
                      4 * MpegPacketReader::kClockRate);
        }
    }
}

// The timeline scan confirms a jump of the sound's timestamps in libavformat's packets,
// found by their positions: it sees the restarts of transport streams with 192- and
// 204-byte packets only where the reader counts positions as libavformat does.
TEST(MpegPacketReader, JoinedStreamsOfLongerTransportPacketsGetOneTimeline) {
    const std::string missing = MissingTool({"ffmpeg"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing << " is not installed";
    }
    TestMedia media;
    for (const int size : {192, 204}) {
        SCOPED_TRACE(size);
        std::string joined;
        std::vector<double> ends;  // of each part's sound, played in a row
        for (int i = 0; i < 2; ++i) {
            const std::string part =
                media.Make("part" + std::to_string(size) + std::to_string(i),
                           "-f lavfi -i testsrc=d=4:s=160x120:r=25 -f lavfi -i sine=f=" +
                               std::to_string(300 + 200 * i) +
                               ":r=48000:d=4 -c:v mpeg1video -c:a mp2 -f mpegts" +
                               (size == 192 ? " -mpegts_m2ts_mode 1" : ""));
            joined += size == 204 ? Damaged(Bytes(part), Damage::Fec204, 188) : Bytes(part);
            ends.push_back((ends.empty() ? 0 : ends.back()) +
                           static_cast<double>(TestMedia::DecodeS16(part).size()) / 48000);
        }
        const std::string path = media.Path("joined" + std::to_string(size));
        std::ofstream(path, std::ios::binary) << joined;
        FfmpegAudioSource source;
        MediaInfo info;
        ASSERT_TRUE(source.ProbeMedia(path, info)) << source.LastError();
        ASSERT_EQ(info.timeline.Segments().size(), 2u);
        const double frame = 1152.0 / 48000;
        EXPECT_NEAR(info.timeline.Segments()[1].mediaStart / 1e7, ends[0], frame);
        EXPECT_NEAR(info.duration / 1e7, ends[1], frame);
    }
}
