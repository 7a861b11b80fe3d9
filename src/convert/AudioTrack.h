#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
};
