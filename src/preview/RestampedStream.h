#pragma once

#include <cstdint>
#include <string>

#include "MediaTimeline.h"
#include "MpegPacketReader.h"

// The bytes of an MPEG program or transport stream whose timestamps restart, as a player
// should read them: every PES timestamp (and every PCR of a transport stream) is moved
// onto the file's continuous timeline, in place, so nothing else changes. A player then
// shows, seeks and stops in the same continuous time as the conversion: libavformat's
// seeks by timestamp land in the right piece, and its duration is the whole one.
//
// Which piece a timestamp belongs to is told by where it lies in the file (the timeline
// cuts the file where the sound restarts) and, near a cut, by which piece makes it agree
// with the sound around it: pictures are muxed a little before or after the sound of
// the same moment, so a few of them lie on the other side of the sound's cut.
//
// One reader serves one caller at a time; it keeps where its last read ended, so reads
// that follow each other cost no more than the bytes.
class RestampedStream {
  public:
    // Whether a player needs the timestamps of a file with this timeline moved: MPEG
    // files (timestamps at 90 kHz) whose timestamps restart.
    static bool Needed(const MediaTimeline& timeline);

    explicit RestampedStream(MediaTimeline timeline);
    RestampedStream(const RestampedStream&) = delete;
    RestampedStream& operator=(const RestampedStream&) = delete;

    // Opens the file; false when it cannot be read or is no program or transport stream.
    bool Open(const std::string& path);
    int64_t Size() const { return m_reader.Size(); }
    // Reads up to count bytes at pos: how many were read, 0 at the end, -1 on an error.
    int64_t Read(int64_t pos, uint8_t* out, size_t count);

  private:
    // The latest place at or before pos where a packet is known to start.
    int64_t SyncPointBefore(int64_t pos) const;
    // Moves the timestamps in a copy of a packet's header onto the timeline.
    void Restamp(const MpegPacketReader::Packet& packet, uint8_t* header) const;
    // The continuous timestamp of a 33-bit timestamp read at pos.
    int64_t Continuous(int64_t pos, int64_t raw) const;
    // The continuous timestamp of the sound at byte pos (modulo 2^33).
    int64_t ExpectedAt(int64_t pos) const;

    MediaTimeline m_timeline;
    MpegPacketReader m_reader;
    bool m_bOpen = false;
    // Where the packet that holds the end of the last read starts; -1 when unknown.
    int64_t m_resume = -1;
};
