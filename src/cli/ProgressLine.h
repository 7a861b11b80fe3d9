#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The one-line progress display of a running conversion: percent, elapsed time,
// speed as a multiple of real time and the time left (or, when the length is not
// known, the time converted), redrawn at most ten times a second.
class ProgressLine {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRefresh{100};

    // span: the media time that positions 0..1000 cover, 0 when unknown.
    ProgressLine(int64_t span, Clock::time_point start);

    // The text for a progress position (0..1000) at a moment. Without a known length
    // it tells the media time converted so far instead.
    std::string Text(int position, Clock::time_point now, int64_t rtConverted = 0) const;
    // True when the line should be redrawn at now; counts it as drawn.
    bool Due(Clock::time_point now);

    // "M:SS" under an hour, else "H:MM:SS".
    static std::string Duration(double seconds);

  private:
    int64_t m_nSpan;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    bool m_bDrawn = false;
};
