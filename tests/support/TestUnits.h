#pragma once

#include <cstdint>

#include "MediaTime.h"

// Media time in the units tests write their tables in.
inline constexpr int64_t kSecond = MediaTime::kUnitsPerSecond;
inline constexpr int64_t kMs = kSecond / 1000;
