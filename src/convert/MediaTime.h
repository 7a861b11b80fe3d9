#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

// Media time: a signed count of 100 ns units; 0 is the start of the file.
namespace MediaTime {

inline constexpr int64_t kUnitsPerSecond = 10'000'000;
// The unit as a std::chrono duration, for arithmetic with other clocks.
using Duration = std::chrono::duration<int64_t, std::ratio<1, kUnitsPerSecond>>;

inline constexpr double ToSeconds(int64_t rt) {
    return static_cast<double>(rt) / kUnitsPerSecond;
}
// Seconds (as players count them) to media time, rounded to the nearest unit.
inline int64_t FromSeconds(double seconds) {
    return std::llround(seconds * kUnitsPerSecond);
}

// Whole seconds, truncated toward zero, as the clock texts count them.
int WholeSeconds(int64_t rt);

// "%02d:%02d:%02d" of whole seconds; hours do not wrap.
std::string ClockText(int seconds);

// Parses "12.5", "90", "1:30", "1:02:03.5" into media time; nullopt when malformed.
std::optional<int64_t> Parse(const std::string& text);

// "H:MM:SS.mmm" for messages and the command line's output.
std::string Format(int64_t rt);

}  // namespace MediaTime
