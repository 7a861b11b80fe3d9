#include "SampleFormat.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<SampleFormat, const char*>, 5> kNames = {{
    {SampleFormat::Auto, "auto"},
    {SampleFormat::S16, "s16"},
    {SampleFormat::S24, "s24"},
    {SampleFormat::S32, "s32"},
    {SampleFormat::F32, "f32"},
}};

}  // namespace

namespace SampleFormats {

std::optional<SampleFormat> Parse(const std::string& text) {
    for (const auto& [format, name] : kNames) {
        if (text == name) {
            return format;
        }
    }
    return std::nullopt;
}

std::string Name(SampleFormat format) {
    for (const auto& [f, name] : kNames) {
        if (f == format) {
            return name;
        }
    }
    return "auto";
}

std::string WrittenName(int formatTag, int bits) {
    const char kind = formatTag == 3 ? 'f' : (bits == 8 ? 'u' : 's');
    return std::string(1, kind).append(std::to_string(bits));
}

}  // namespace SampleFormats
