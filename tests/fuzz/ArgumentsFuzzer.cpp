// libFuzzer target: orvane-extract's command line and the TIME texts it reads.
#include <cstdint>
#include <string>
#include <vector>

#include "ExtractArguments.h"
#include "MediaTime.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// A parsed TIME is never negative and survives its own printed form, to the millisecond.
void CheckTime(const std::string& text) {
    const std::optional<int64_t> rt = MediaTime::Parse(text);
    if (!rt) {
        return;
    }
    Check(*rt >= 0);
    const std::optional<int64_t> again = MediaTime::Parse(MediaTime::Format(*rt));
    Check(again.has_value() && *again == *rt - *rt % 10'000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes are the arguments, separated by zero bytes, as a shell would hand them over.
    std::vector<std::string> args{"orvane-extract"};
    args.emplace_back();
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    for (size_t i = 1; i < args.size(); ++i) {
        CheckTime(args[i]);
    }
    const ExtractArguments parsed = ExtractArguments::Parse(args);
    switch (parsed.action) {
        case ExtractArguments::Action::Exit:
            Check(parsed.exitCode == 0 || parsed.exitCode == ExtractArguments::kUsageError);
            Check(parsed.exitCode == 0 ? !parsed.outText.empty()
                                       : parsed.errText.rfind("Error: ", 0) == 0);
            break;
        case ExtractArguments::Action::Convert:
        case ExtractArguments::Action::Probe:
            Check(parsed.exitCode == 0 && parsed.errText.empty());
            Check(parsed.rtStart >= 0 && parsed.rtEnd >= 0);
            break;
        case ExtractArguments::Action::Segments:
            // Segments are cut from one file, from one source of them.
            Check(parsed.exitCode == 0 && parsed.errText.empty());
            Check(parsed.inputs.size() == 1 &&
                  parsed.segments != ExtractArguments::SegmentSource::None);
            break;
    }
    return 0;
}
