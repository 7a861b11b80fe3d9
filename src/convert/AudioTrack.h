#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How the engine lines a track's decoded sound up with the file's time. Lossy codecs'
// decoded sound lags their frames' times by the delay of their filter banks (the lead);
// which of these holds is read from the stream itself.
enum class LeadRule {
    None,      // the codec puts no delay before its sound
    TakenOff,  // nothing in the file accounts for the delay: the engine takes it off
    Carried,   // the timestamps already carry it: the sound starts before the picture by it
    Recorded,  // the file records the delay (an edit list, an info frame, a codec header)
    Followed,  // sound and picture start apart: their timestamps are followed as they are
};

// One audio track of a media file, as a user picks it.
struct AudioTrack {
    int number = 0;       // 1-based, in file order among the audio tracks
    int streamIndex = 0;  // the container's stream index
    std::string codec;    // the decoder's short name: "mp3", "aac", "ac3"
    int sampleRate = 0;
    int channels = 0;
    std::string channelLayout;  // "stereo", "5.1(side)", "3 channels"
    std::optional<std::string> language;
    std::optional<std::string> title;
    bool isDefault = false;  // the container marks it as the default track
    bool primary = false;    // the track a conversion takes when none is named
    // Media time by which the decoded sound lags the container's timestamps (the codec
    // delay that the engine takes off); a player's times are this much ahead.
    int64_t lead = 0;
    // What was decided about the codec's delay, and its samples: the codec's lead, or
    // the delay the file records.
    LeadRule leadRule = LeadRule::None;
    int leadSamples = 0;
};
