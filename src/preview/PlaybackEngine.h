#pragma once

#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MediaTimeline.h"

class QWidget;

// Outcome of one engine call. A negative code is a failure; `call` then names the
// library call that failed, so the player can tell the user which one it was.
struct EngineResult {
    int code = 0;
    std::string call;

    bool Ok() const { return code >= 0; }
};

// What the engine reports back to the player, one event at a time.
enum class EngineEvent {
    Loaded,      // the clip can play: paused at its start, its first picture shown
    LoadFailed,  // the clip cannot be played
    EndOfClip,   // playback reached the end of the clip
    Other,
};

// The playback library under the preview player. The player holds the play-state logic;
// an engine only carries out the calls. Every call runs on the GUI thread.
class PlaybackEngine {
  public:
    virtual ~PlaybackEngine() = default;

    // Creates the playback core. Nothing is loaded yet.
    virtual EngineResult Initialize() = 0;
    // Puts the video output inside `parent` (which owns the widget it makes). An engine
    // without a picture makes no widget; `*view` is then null.
    virtual EngineResult AttachVideo(QWidget* parent, QWidget** view) = 0;
    // Starts loading the clip and returns at once; Loaded or LoadFailed follows as an
    // event. A failure here means the load could not even start. Where the timeline has
    // restarts, the engine plays the clip in its continuous time: positions, the
    // duration, seeks and ends all count in it.
    virtual EngineResult Load(const std::string& path, const MediaTimeline& timeline) = 0;

    virtual EngineResult Run() = 0;
    virtual EngineResult Pause() = 0;
    // Halts playback; the position stays where it is.
    virtual EngineResult Stop() = 0;
    virtual EngineResult SetRate(double rate) = 0;
    // Absolute seek to media time (100 ns units from the start of the file).
    virtual EngineResult Seek(int64_t target) = 0;

    // Playback pauses at `end` (media time) and reports EndOfClip there; a negative end
    // plays to the end of the clip again.
    virtual EngineResult SetPlayEnd(int64_t end) = 0;
    // Playback jumps back to `from` whenever it reaches `to`; a negative `from` ends the
    // loop.
    virtual EngineResult SetLoop(int64_t from, int64_t to) = 0;
    // Plays the audio track of this number (1-based, in file order among the audio
    // tracks).
    virtual EngineResult SelectAudioTrack(int number) = 0;

    // The position now, read from the playback core at the call.
    virtual EngineResult GetCurrentPosition(int64_t* position) = 0;
    virtual EngineResult GetStopPosition(int64_t* position) = 0;

    // True when the clip has a picture to show.
    virtual bool HasVideo() = 0;
    // Native size of the picture in pixels; false when it is not known.
    virtual bool GetVideoSize(QSize* size) = 0;

    // A failure's code in words, for the boxes that quote it; empty when unknown.
    virtual std::string ErrorText(int /*code*/) const { return {}; }

    // Takes the oldest waiting event; false when none waits.
    virtual bool GetEvent(EngineEvent* event) = 0;
    // `notify` is called on the GUI thread, never from inside an engine call, when
    // events wait. An empty function stops the notifications.
    virtual void SetEventNotify(std::function<void()> notify) = 0;
};

using PlaybackEngineFactory = std::function<std::unique_ptr<PlaybackEngine>()>;
