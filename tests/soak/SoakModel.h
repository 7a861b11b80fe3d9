#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "PlayState.h"

// "stopped", "paused", "running" or "closed".
const char* StateName(PlayState state);
// H:MM:SS.mmm of a media time (100 ns units), as the panel shows a time.
std::string TimeText(int64_t t);

// A time the model expects, in media time, and how far the program may be from it: 1 ms
// where the model knows it exactly, more where the clip was playing.
struct Expected {
    int64_t t = 0;
    int64_t tol = 0;

    bool Holds(int64_t actual) const;
    std::string Text() const;  // "0:00:01.234 (±250 ms)"
};

// The soak's model of the marks and the preview: what they should be, predicted from the
// steps the soak took and its own clock, never taken from the program. Held (stopped, or
// paused after a seek or at the end of a part) the clip is where the model sent it; while
// it plays it is where the time run since the step says, within 0.25 s; it ends a part or
// the clip where the model's marks and the file's length say. Only at a moment that the
// tolerances cannot decide (an end due within 0.25 s) does the program's play state tell
// which of the two predictions came true; the values are the model's either way.
class SoakModel {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int64_t kMs = 10'000;
    static constexpr int64_t kPlaying = 250 * kMs;

    // The open file (an index of the soak's files, -1 for none), its length, the marks.
    int file = -1;
    int64_t duration = 0;
    Expected start, end;
    bool endActive = false;  // the mark the [ and ] keys move
    int track = 0;
    bool fullScreen = false;
    bool loaded = false;  // the preview knows the clip's length

    // A clip just opened is at its start; once libmpv has shown its first picture it may
    // tell that picture's time.
    void Open(int index, int64_t length, int64_t firstPicture);
    void Close();
    void Play(Clock::time_point now);
    void Pause(Clock::time_point now);
    void Stop();
    void Seek(int64_t target, Clock::time_point now);
    void PlayRange(Expected from, Expected to, bool loop, Clock::time_point now);
    // The Loop button let go: the pass under way plays on to the End mark and holds there,
    // or, with nothing left to play, the clip pauses.
    void ReleaseLoop(Clock::time_point now);
    void SetMark(bool endMark, Expected at);
    void Nudge(bool endMark, int steps, int64_t step);
    // 1 when the start mark is before the end mark, 0 when not, -1 when the tolerances
    // cannot tell.
    int MarksInOrder() const;

    // Ends the part or the clip where the time run says so; `seen` decides within the
    // tolerance of an end.
    void Advance(Clock::time_point now, PlayState seen);
    PlayState State() const { return m_state; }
    Expected Position(Clock::time_point now) const;
    bool Looping() const { return m_range && m_looping; }
    // The Loop button was let go and the position has not been moved since: it must not
    // go back.
    bool Released() const { return m_released; }
    // After a hasty step, where the program's play state and position differ: they are
    // taken over, with whether a part plays (its ends stay the model's marks).
    void TakeOver(PlayState state, int64_t position, bool range, bool looping,
                  Clock::time_point now);
    std::string ClipText(Clock::time_point now) const;

  private:
    void Hold(PlayState state, Expected at) {
        m_state = state;
        m_at = at;
    }
    void EndRange() { m_range = m_looping = m_released = false; }

    PlayState m_state = PlayState::Closed;
    Expected m_at;  // where the clip is; while it runs, where it was at m_since
    Clock::time_point m_since;
    bool m_range = false;  // a part plays, holding at m_to or looping back to m_from
    bool m_looping = false;
    Expected m_from, m_to;
    bool m_released = false;
};
