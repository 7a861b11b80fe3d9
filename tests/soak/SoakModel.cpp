#include "SoakModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = SoakModel::Clock;
constexpr int64_t kMs = SoakModel::kMs;
// Exact means within a millisecond: the preview's length reaches the program as a double.
constexpr int64_t kExact = kMs;

int64_t Since(Clock::time_point since, Clock::time_point now) {
    return std::chrono::duration_cast<std::chrono::microseconds>(now - since).count() * 10;
}

}  // namespace

const char* StateName(PlayState state) {
    static const char* const kNames[] = {"stopped", "paused", "running", "closed"};
    return kNames[static_cast<int>(state)];
}

std::string TimeText(int64_t t) {
    const long long ms = std::llabs(t / kMs);
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", t < 0 ? "-" : "",
                  ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

bool Expected::Holds(int64_t actual) const {
    return std::llabs(actual - t) <= std::max(tol, kExact);
}

std::string Expected::Text() const {
    return TimeText(t) + " (±" + std::to_string(std::max(tol, kExact) / kMs) + " ms)";
}

void SoakModel::Open(int index, int64_t length, int64_t firstPicture) {
    Close();
    file = index;
    duration = length;
    end = {length, 0};
    const int64_t half = (std::max<int64_t>(firstPicture, 0) + 1) / 2;
    Hold(PlayState::Stopped, {half, half + (firstPicture > 0 ? kExact : 0)});
}

void SoakModel::Close() {
    // Which mark the keys move outlives the file.
    const bool active = endActive;
    *this = SoakModel{};
    endActive = active;
}

void SoakModel::Play(Clock::time_point now) {
    if (m_state == PlayState::Stopped || m_state == PlayState::Paused) {
        m_state = PlayState::Running;
        m_since = now;
    }
}

void SoakModel::Pause(Clock::time_point now) {
    if (m_state == PlayState::Running) {
        // Paused, not sent anywhere: where playback was at the press, as closely as that
        // is known.
        Hold(PlayState::Paused, Position(now));
    }
}

void SoakModel::Stop() {
    EndRange();
    if (m_state == PlayState::Running || m_state == PlayState::Paused) {
        Hold(PlayState::Stopped, {0, 0});
    }
}

void SoakModel::Seek(int64_t target, Clock::time_point now) {
    EndRange();
    m_at = {std::max<int64_t>(target, 0), 0};
    m_since = now;
}

void SoakModel::PlayRange(Expected from, Expected to, bool loop, Clock::time_point now) {
    m_range = true;
    m_looping = loop;
    m_released = false;
    m_from = from;
    m_to = to;
    Hold(PlayState::Running, from);
    m_since = now;
}

void SoakModel::ReleaseLoop(Clock::time_point now) {
    Expected at = Position(now);
    // Played from the start mark at the earliest.
    if (at.t < start.t) {
        at = {start.t, std::max(at.tol, start.tol)};
    }
    const int64_t slack = at.tol + end.tol + kExact;
    const int order = MarksInOrder();
    if (order == 1 && at.t + slack < end.t) {
        PlayRange(at, end, false, now);
        m_released = true;
    } else if (order == 0 || at.t >= end.t + slack) {
        EndRange();
        Pause(now);
    } else {
        // At the End mark within the tolerances: held there, whichever way it went.
        EndRange();
        if (m_state != PlayState::Stopped) {
            Hold(PlayState::Paused, {end.t, std::max(slack, kPlaying)});
        }
    }
}

void SoakModel::SetMark(bool endMark, Expected at) {
    (endMark ? end : start) = at;
    endActive = endMark;
}

void SoakModel::Nudge(bool endMark, int steps, int64_t step) {
    Expected& mark = endMark ? end : start;
    mark.t = std::clamp<int64_t>(mark.t + steps * step, 0, duration);
    endActive = endMark;
}

int SoakModel::MarksInOrder() const {
    const int64_t slack = start.tol + end.tol + 2 * kExact;
    return end.t - start.t > slack ? 1 : start.t - end.t >= slack ? 0 : -1;
}

Expected SoakModel::Position(Clock::time_point now) const {
    if (m_state != PlayState::Running) {
        return m_at;
    }
    const int64_t tol = std::max(m_at.tol, kPlaying);
    const int64_t played = m_at.t + Since(m_since, now);
    if (m_range && m_looping && played > m_to.t) {
        // Past the first pass: anywhere in the part.
        const int64_t lo = m_from.t - m_from.tol;
        const int64_t hi = m_to.t + m_to.tol + kPlaying;
        return {(lo + hi) / 2, (hi - lo) / 2};
    }
    // Within the tolerance of its end the clip may be there already.
    const int64_t limit = m_range && !m_looping ? m_to.t : duration;
    return {std::min(played, limit), tol};
}

void SoakModel::Advance(Clock::time_point now, PlayState seen) {
    if (m_state != PlayState::Running || (m_range && m_looping)) {
        return;
    }
    const int64_t played = m_at.t + Since(m_since, now);
    const int64_t margin = std::max(m_at.tol, kPlaying) + (m_range ? m_to.tol : 0);
    const int64_t limit = m_range ? m_to.t : duration;
    const PlayState after = m_range ? PlayState::Paused : PlayState::Stopped;
    if (played >= limit + margin || (played >= limit - margin && seen == after)) {
        // A part holds at its end; the clip rewinds to its start.
        const Expected at = m_range ? m_to : Expected{0, 0};
        m_range = m_looping = false;
        Hold(after, at);
    }
}

void SoakModel::TakeOver(PlayState state, int64_t position, bool range, bool looping,
                         Clock::time_point now) {
    if (!range) {
        EndRange();
    } else if (!m_range || m_looping != looping) {
        PlayRange({position, 0}, end, looping, now);
        m_from = start;
    }
    m_state = state;
    m_at = {position, 0};
    m_since = now;
}

std::string SoakModel::ClipText(Clock::time_point now) const {
    const std::string range = m_looping ? ", looping to " : ", playing to ";
    return StateName(m_state) + (" at " + Position(now).Text()) +
           (m_range ? range + m_to.Text() : "");
}
