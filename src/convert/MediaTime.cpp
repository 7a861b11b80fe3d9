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

std::string InfoLine(const std::string& name, int positionSeconds, int durationSeconds) {
    return name + "   " + ClockText(positionSeconds) + " / " + ClockText(durationSeconds);
}

std::optional<int64_t> Parse(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> fields;
    std::string field;
    for (char c : text) {
        if (c == ':') {
            fields.push_back(field);
            field.clear();
        } else if ((c >= '0' && c <= '9') || c == '.') {
            field += c;
        } else {
            return std::nullopt;
        }
    }
    fields.push_back(field);
    if (fields.size() > 3) {
        return std::nullopt;
    }
    int64_t total = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        const bool last = i + 1 == fields.size();
        if (f.empty() || (!last && f.find('.') != std::string::npos)) {
            return std::nullopt;
        }
        if (!last) {
            if (f.size() > 9) {
                return std::nullopt;
            }
            total = total * 60 + std::atoll(f.c_str());
            continue;
        }
        // Seconds with a fraction, counted exactly to 100 ns.
        const size_t dot = f.find('.');
        const std::string whole = f.substr(0, dot);
        std::string frac = dot == std::string::npos ? "" : f.substr(dot + 1);
        if (frac.find('.') != std::string::npos || whole.size() > 12 ||
            (whole.empty() && frac.empty())) {
            return std::nullopt;
        }
        if (i > 0 && std::atoll(whole.c_str()) >= 60) {
            return std::nullopt;
        }
        frac.resize(7, '0');
        total =
            (total * 60 + std::atoll(whole.c_str())) * kUnitsPerSecond + std::atoll(frac.c_str());
    }
    return total;
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
