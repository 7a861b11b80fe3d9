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

// What the engine reports back to the player, one event at a time: what the playback
// core's events and observed properties say. Times are the core's own, from the start of
// the file.
struct EngineEvent {
    enum class Kind {
        Loaded,      // the clip can play, paused at its start: video, size and time (its
                     // duration, 0 when unknown) tell what it holds
        LoadFailed,  // the clip cannot be played
        EndOfClip,   // playback reached the end of the clip, or the end set by SetPlayEnd
        Position,    // time: where playback is now
        Duration,    // time: the clip's length changed
        SeekLanded,  // the last seek sent has landed; positions from now on are after it
        VideoSize,   // size: the picture's size became known or changed
    };
    Kind kind = Kind::Position;
    int64_t time = 0;
    bool video = false;
    QSize size;

    static EngineEvent Of(Kind kind, int64_t time = 0) {
        EngineEvent event;
        event.kind = kind;
        event.time = time;
        return event;
    }
};

// The playback library under the preview player. The player holds the play-state logic;
// an engine only carries out the calls and reports what happens. Every call runs on the
// GUI thread and returns at once: once a clip has loaded, nothing waits for the core and
// nothing asks it a question, since every answer comes as an event.
class PlaybackEngine {
  public:
    virtual ~PlaybackEngine() = default;

    // Creates the playback core. Nothing is loaded yet.
    virtual EngineResult Initialize() = 0;
    // The part of Initialize that may run on another thread, ahead of it: the core's own
    // start, which takes a good part of an open's time. Initialize then does the rest on
    // the GUI thread. Nothing else of the engine may be used meanwhile.
    virtual EngineResult StartCore() { return {}; }
    // Puts the video output inside `parent` (which owns the widget it makes). An engine
    // without a picture makes no widget; `*view` is then null.
    virtual EngineResult AttachVideo(QWidget* parent, QWidget** view) = 0;
    // Starts loading the clip; Loaded or LoadFailed follows as an event. A failure here
    // means the load could not even start. Where the timeline has restarts, the engine
    // plays the clip in its continuous time: positions, the duration, seeks and ends all
    // count in it.
    virtual EngineResult Load(const std::string& path, const MediaTimeline& timeline) = 0;

    virtual EngineResult Run() = 0;
    virtual EngineResult Pause() = 0;
    // Halts playback; the position stays where it is.
    virtual EngineResult Stop() = 0;
    virtual EngineResult SetRate(double rate) = 0;
    // Absolute seek to a time of the clip; SeekLanded follows.
    virtual EngineResult Seek(int64_t target) = 0;
    // Playback pauses at `end` and reports EndOfClip there; a negative end plays to the end
    // of the clip again.
    virtual EngineResult SetPlayEnd(int64_t end) = 0;
    // Playback jumps back to `from` whenever it reaches `to`; a negative `from` ends the
    // loop.
    virtual EngineResult SetLoop(int64_t from, int64_t to) = 0;
    // Plays the audio track of this number (1-based, in file order among the audio
    // tracks).
    virtual EngineResult SelectAudioTrack(int number) = 0;

    // A failure's code in words, for the boxes that quote it; empty when unknown.
    virtual std::string ErrorText(int /*code*/) const { return {}; }

    // Takes the oldest waiting event; false when none waits.
    virtual bool GetEvent(EngineEvent* event) = 0;
    // `notify` is called on the GUI thread, never from inside an engine call, when
    // events wait. An empty function stops the notifications.
    virtual void SetEventNotify(std::function<void()> notify) = 0;
};

using PlaybackEngineFactory = std::function<std::unique_ptr<PlaybackEngine>()>;
