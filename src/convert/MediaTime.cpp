#include "MediaTime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace MediaTime {

int WholeSeconds(int64_t rt) {
    return static_cast<int>(rt / kUnitsPerSecond);
}

std::string ClockText(int seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60,
                  seconds % 60);
    return text;
}

std::optional<int64_t> Parse(const std::string& text) {
    // [[H:]M:]S[.fff]: every field but the first is below 60; only S has a fraction.
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ':') {
            fields.emplace_back();
        } else if ((c >= '0' && c <= '9') || c == '.') {
            fields.back() += c;
        } else {
            return std::nullopt;
        }
    }
    if (fields.size() > 3) {
        return std::nullopt;
    }
    const std::string last = fields.back();
    const size_t dot = last.find('.');
    fields.back() = last.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : last.substr(dot + 1);
    if (fraction.find('.') != std::string::npos || (fields.back().empty() && fraction.empty())) {
        return std::nullopt;
    }
    if (fields.back().empty()) {
        fields.back().assign(1, '0');  // ".5"
    }
    // Whole seconds up to about 29,000 years fit media time; more is refused.
    constexpr int64_t kMaxSeconds = INT64_MAX / kUnitsPerSecond - 1;
    int64_t seconds = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        if (f.empty() || f.size() > 12 || f.find('.') != std::string::npos) {
            return std::nullopt;
        }
        const int64_t value = std::atoll(f.c_str());
        if (i > 0 && value >= 60) {
            return std::nullopt;
        }
        if (seconds > (kMaxSeconds - value) / 60) {
            return std::nullopt;
        }
        seconds = seconds * 60 + value;
    }
    if (seconds > kMaxSeconds) {
        return std::nullopt;
    }
    fraction.resize(7, '0');  // digits past 100 ns are dropped
    return seconds * kUnitsPerSecond + std::atoll(fraction.substr(0, 7).c_str());
}

std::string Format(int64_t rt) {
    const bool negative = rt < 0;
    const int64_t ms = (negative ? -rt : rt) / 10'000;
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", negative ? "-" : "",
                  static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace MediaTime
