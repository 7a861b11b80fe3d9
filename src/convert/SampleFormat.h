#pragma once

#include <optional>
#include <string>

// The sample format a conversion writes. Auto keeps integer PCM at its depth and
// gives 16-bit for floating-point decoders.
enum class SampleFormat { Auto, S16, S24, S32, F32 };

namespace SampleFormats {

// "auto", "s16", "s24", "s32", "f32"; nullopt for anything else.
std::optional<SampleFormat> Parse(const std::string& text);
std::string Name(SampleFormat format);
// The name of what is written for a format tag and depth: "u8", "s16", "s24", "s32", "f32".
std::string WrittenName(int formatTag, int bits);

}  // namespace SampleFormats
