#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "LibavLimits.h"
#include "MediaInfo.h"
#include "MediaTime.h"
#include "MediaTimeline.h"
#include "StreamLead.h"

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVPacket;
struct AVStream;

// What the engine reads about a file through libavformat, apart from decoding it: opening
// it safely, where its time starts, the delay each codec puts before the sound, its tracks,
// its duration and timeline, and the whole probe the dialog and the command show.
namespace LibavFile {

inline constexpr AVRational kMediaTimeBase{1, static_cast<int>(MediaTime::kUnitsPerSecond)};

// libav's words for an error code, and ours for a file that is not a regular one.
std::string ErrorText(int code);
// Opens a path ("-" is standard input) and reads its stream parameters, within what a
// hostile file may cost and until the guard's flag cancels it. Anything but a regular
// file is refused before it is opened.
int OpenInput(const std::string& path, AVFormatContext** fmt, LibavLimits::ReadGuard& guard);
// Where media time 0 lies in stream time.
int64_t OriginOf(const AVFormatContext* fmt);
// The timeline of a stream of a file opened from path: the identity for standard input.
MediaTimeline TimelineOf(const std::string& path, const AVFormatContext* fmt, int stream,
                         const std::atomic<bool>* cancel);
// Samples at a rate as media time.
int64_t LeadTime(int lead, int rate);
// What a track reports of its lead decision.
void ApplyLead(AudioTrack& track, const StreamLead::Decision& lead);
// The file's chapters in media time, in order, with their titles.
std::vector<Segment> ChaptersOf(const AVFormatContext* fmt);
// The container's duration, from the file's start.
int64_t DurationOf(const AVFormatContext* fmt);
// The audio tracks in file order, numbered from 1; `primary` is the stream index.
std::vector<AudioTrack> ListTracks(const AVFormatContext* fmt, int primary);

// The duration of a file, following its timeline; and the whole probe: duration, tracks
// with their leads, timeline and frame duration. 0, or a negative libav error code.
int ProbeDuration(const std::string& path, int64_t& duration, const std::atomic<bool>* cancel);

// early, when given, is called before a timeline scan of the whole file with what is
// known without it (timelinePending set); Probe's answer then comes once the scan is done.
int Probe(const std::string& path, MediaInfo& info, const std::atomic<bool>* cancel,
          const std::function<void(const MediaInfo&)>& early = {});

// Puts the file at the last place, in steps of 64 KiB, whose first packet of the stream is
// stamped at or before pts: for files whose timestamps libavformat's own search cannot
// follow (sparse timestamps in silent stretches). pkt is used for reading.
int SeekByBytes(AVFormatContext* fmt, int stream, AVPacket* pkt, int64_t pts);
// Whether two decoders of the codec started at different places give the same samples
// once run in (see AudioStreamSource::DecodesAlike).
bool DecodesAlike(int codecId);

}  // namespace LibavFile
