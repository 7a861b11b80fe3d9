#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PlayState.h"

inline const char* StateName(PlayState state) {
    static const char* const kNames[] = {"stopped", "paused", "running", "closed"};
    return kNames[static_cast<int>(state)];
}

// H:MM:SS.mmm of a media time (100 ns units), as the panel shows a time.
inline std::string TimeText(int64_t t) {
    const long long ms = std::llabs(t / 10'000);
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", t < 0 ? "-" : "",
                  ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

// A time the model expects, in media time, and how far the program may be from it: 1 ms
// where the model knows it exactly (the preview's length reaches the program as a double),
// more where the clip was playing.
struct Expected {
    static constexpr int64_t kExact = 10'000;
    int64_t t = 0;
    int64_t tol = 0;

    bool Holds(int64_t actual) const { return std::llabs(actual - t) <= std::max(tol, kExact); }
    // "0:00:01.234 (±250 ms)"
    std::string Text() const {
        return TimeText(t) + " (±" + std::to_string(std::max(tol, kExact) / kExact) + " ms)";
    }
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
    static constexpr int64_t kExact = Expected::kExact;
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
    void Open(int index, int64_t length, int64_t firstPicture) {
        Close();
        file = index;
        duration = length;
        end = {length, 0};
        const int64_t half = (std::max<int64_t>(firstPicture, 0) + 1) / 2;
        Hold(PlayState::Stopped, {half, half + (firstPicture > 0 ? kExact : 0)});
    }

    void Close() {
        // Which mark the keys move outlives the file.
        const bool active = endActive;
        *this = SoakModel{};
        endActive = active;
    }

    void Play(Clock::time_point now) {
        if (m_state == PlayState::Stopped || m_state == PlayState::Paused) {
            m_state = PlayState::Running;
            m_since = now;
        }
    }

    void Pause(Clock::time_point now) {
        // Paused, not sent anywhere: where playback was at the press, as closely as that is
        // known.
        if (m_state == PlayState::Running) {
            Hold(PlayState::Paused, Position(now));
        }
    }

    void Stop() {
        EndRange();
        if (m_state == PlayState::Running || m_state == PlayState::Paused) {
            Hold(PlayState::Stopped, {0, 0});
        }
    }

    void Seek(int64_t target, Clock::time_point now) {
        EndRange();
        m_at = {std::max<int64_t>(target, 0), 0};
        m_since = now;
    }

    void PlayRange(Expected from, Expected to, bool loop, Clock::time_point now) {
        m_range = true;
        m_looping = loop;
        m_released = false;
        m_from = from;
        m_to = to;
        Hold(PlayState::Running, from);
        m_since = now;
    }

    // The Loop button let go: the pass under way plays on to the End mark and holds there,
    // or, with nothing left to play, the clip pauses.
    void ReleaseLoop(Clock::time_point now) {
        Expected at = Position(now);
        // Played from the start mark at the earliest.
        if (at.t < start.t) {
            at = {start.t, std::max(at.tol, start.tol)};
        }
        const int64_t slack = at.tol + end.tol + kExact;
        const int order = MarksInOrder();
        EndRange();
        if (order == 1 && at.t + slack < end.t) {
            PlayRange(at, end, false, now);
            m_released = true;
        } else if (order == 0 || at.t >= end.t + slack) {
            Pause(now);
        } else if (m_state != PlayState::Stopped) {
            // At the End mark within the tolerances: held there, whichever way it went.
            Hold(PlayState::Paused, {end.t, std::max(slack, kPlaying)});
        }
    }

    void SetMark(bool endMark, Expected at) {
        (endMark ? end : start) = at;
        endActive = endMark;
    }

    void Nudge(bool endMark, int steps, int64_t step) {
        Expected& mark = endMark ? end : start;
        mark.t = std::clamp<int64_t>(mark.t + steps * step, 0, duration);
        endActive = endMark;
    }

    // 1 when the start mark is before the end mark, 0 when not, -1 when the tolerances
    // cannot tell.
    int MarksInOrder() const {
        const int64_t slack = start.tol + end.tol + 2 * kExact;
        return end.t - start.t > slack ? 1 : start.t - end.t >= slack ? 0 : -1;
    }

    // Ends the part or the clip where the time run says so; `seen` decides within the
    // tolerance of an end.
    void Advance(Clock::time_point now, PlayState seen) {
        if (m_state != PlayState::Running || (m_range && m_looping)) {
            return;
        }
        const int64_t margin = std::max(m_at.tol, kPlaying) + (m_range ? m_to.tol : 0);
        const int64_t limit = m_range ? m_to.t : duration;
        const PlayState after = m_range ? PlayState::Paused : PlayState::Stopped;
        if (Played(now) >= limit + margin || (Played(now) >= limit - margin && seen == after)) {
            // A part holds at its end; the clip rewinds to its start.
            Hold(after, m_range ? m_to : Expected{0, 0});
            m_range = m_looping = false;
        }
    }

    PlayState State() const { return m_state; }

    Expected Position(Clock::time_point now) const {
        if (m_state != PlayState::Running) {
            return m_at;
        }
        if (m_range && m_looping && Played(now) > m_to.t) {
            // Past the first pass: anywhere in the part.
            const int64_t lo = m_from.t - m_from.tol;
            const int64_t hi = m_to.t + m_to.tol + kPlaying;
            return {(lo + hi) / 2, (hi - lo) / 2};
        }
        // Within the tolerance of its end the clip may be there already.
        const int64_t limit = m_range && !m_looping ? m_to.t : duration;
        return {std::min(Played(now), limit), std::max(m_at.tol, kPlaying)};
    }

    bool Looping() const { return m_range && m_looping; }
    // The Loop button was let go and the position has not been moved since: it must not
    // go back.
    bool Released() const { return m_released; }

    // After a hasty step, where the program's play state and position differ: they are
    // taken over, with whether a part plays (its ends stay the model's marks).
    void TakeOver(PlayState state, int64_t position, bool range, bool looping,
                  Clock::time_point now) {
        if (!range) {
            EndRange();
        } else if (!m_range || m_looping != looping) {
            PlayRange({position, 0}, end, looping, now);
            m_from = start;
        }
        Hold(state, {position, 0});
        m_since = now;
    }

    std::string ClipText(Clock::time_point now) const {
        const std::string range = m_looping ? ", looping to " : ", playing to ";
        return StateName(m_state) + (" at " + Position(now).Text()) +
               (m_range ? range + m_to.Text() : "");
    }

  private:
    void Hold(PlayState state, Expected at) {
        m_state = state;
        m_at = at;
    }
    void EndRange() { m_range = m_looping = m_released = false; }
    // Where the clip has played to since it was last sent.
    int64_t Played(Clock::time_point now) const {
        return m_at.t +
               std::chrono::duration_cast<std::chrono::microseconds>(now - m_since).count() * 10;
    }

    PlayState m_state = PlayState::Closed;
    Expected m_at;  // where the clip is; while it runs, where it was at m_since
    Clock::time_point m_since;
    bool m_range = false;  // a part plays, holding at m_to or looping back to m_from
    bool m_looping = false;
    Expected m_from, m_to;
    bool m_released = false;
};
