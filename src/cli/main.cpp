#include <cstdarg>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "ExtractCommand.h"
#include "LibavLimits.h"
#include "SystemConsole.h"

namespace {

// FFmpeg's own log lines ("Header missing" after a seek into an MPEG stream) would
// mix with the command's messages; failures reach the user through the command.
void DropLibavLog(void*, int, const char*, va_list) {}

}  // namespace

int main(int argc, char** argv) {
    LibavLimits::Apply();
    av_log_set_callback(&DropLibavLog);
    SystemConsole console;
    ExtractCommand command(console);
    return command.Run(std::vector<std::string>(argv, argv + argc));
}
