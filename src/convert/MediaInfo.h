#pragma once

#include <cstdint>
#include <vector>

#include "AudioTrack.h"
#include "MediaTimeline.h"
#include "Segment.h"

// What a front end learns of a media file when it opens it.
struct MediaInfo {
    int64_t duration = 0;  // media time; 0 when the container does not know it
    std::vector<AudioTrack> tracks;
    // One frame of the file's picture in media time; 0 for a file without a picture.
    int64_t frameDuration = 0;
    // Where the primary track's timestamps restart, for a player to show and seek in
    // the same continuous time as the conversion (see MediaTimeline for how). The
    // identity for files whose timestamps run on.
    MediaTimeline timeline;
    // The timeline and the duration are still the container's: a scan of the whole file
    // for restarts follows (a probe answered in steps).
    bool timelinePending = false;
    // The file's chapters in media time, with their titles; empty when it has none.
    std::vector<Segment> chapters;

    // The track a conversion takes when none is named; nullptr without audio.
    const AudioTrack* Primary() const {
        for (const AudioTrack& t : tracks) {
            if (t.primary) {
                return &t;
            }
        }
        return nullptr;
    }
};
