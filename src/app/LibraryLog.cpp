#include "LibraryLog.h"

#include <alsa/asoundlib.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace LibraryLog {

namespace {

std::atomic<Level> g_level{Level::Quiet};

// One line at a time: the libraries write from threads of their own.
void PrintLine(const char* source, const char* text) {
    const size_t length = std::strlen(text);
    const bool ends = length > 0 && text[length - 1] == '\n';
    std::fprintf(stderr, "%s: %s%s", source, text, ends ? "" : "\n");
}

// alsa-lib reports the devices it cannot open through this handler; its own prints them.
void OnAlsaMessage(const char* file, int line, const char* function, int err, const char* format,
                   ...) {
    if (g_level.load() == Level::Quiet) {
        return;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    char whole[1400];
    std::snprintf(whole, sizeof(whole), "%s:%d:(%s) %s%s%s", file, line, function, text,
                  err != 0 ? ": " : "", err != 0 ? snd_strerror(err) : "");
    PrintLine("alsa", whole);
}

void OnLibavMessage(void* context, int level, const char* format, va_list args) {
    const int shown = g_level.load() == Level::Debug  ? AV_LOG_VERBOSE
                      : g_level.load() == Level::Warn ? AV_LOG_WARNING
                                                      : AV_LOG_QUIET;
    if (level > shown) {
        return;
    }
    char text[1024];
    int prefix = 1;
    av_log_format_line2(context, level, format, args, text, sizeof(text), &prefix);
    PrintLine("ffmpeg", text);
}

void OnQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const Level level = g_level.load();
    // The reason for an abort is always worth a line.
    const bool shown = type == QtFatalMsg ||
                       (level == Level::Warn && type != QtDebugMsg && type != QtInfoMsg) ||
                       level == Level::Debug;
    if (shown) {
        PrintLine("qt", message.toLocal8Bit().constData());
    }
}

}  // namespace

Level LevelFor(const char* value) {
    if (value == nullptr || *value == '\0' || std::strcmp(value, "0") == 0) {
        return Level::Quiet;
    }
    return std::strcmp(value, "debug") == 0 ? Level::Debug : Level::Warn;
}

Level CurrentLevel() {
    return g_level.load();
}

void Start() {
    const Level level = LevelFor(std::getenv("ORVANE_LOG"));
    g_level.store(level);
    qInstallMessageHandler(&OnQtMessage);
    snd_lib_error_set_handler(&OnAlsaMessage);
    ReclaimLibavLog();
    // PipeWire prints what it says itself; a level the user set stays theirs.
    if (level == Level::Quiet) {
        setenv("PIPEWIRE_DEBUG", "0", 0);
    }
}

std::vector<std::pair<std::string, std::string>> MpvOptions() {
    // The preview decodes in software, so the GPU decoders' interops are never used; loading
    // them probes for NVIDIA's driver, which prints "Cannot load libcuda.so.1" where it is
    // missing, past any log setting.
    std::vector<std::pair<std::string, std::string>> options = {{"gpu-hwdec-interop", "no"}};
    const Level level = g_level.load();
    if (level != Level::Quiet) {
        options.insert(options.end(),
                       {{"terminal", "yes"},
                        {"input-terminal", "no"},
                        {"quiet", "yes"},
                        {"msg-level", level == Level::Debug ? "all=v" : "all=warn"}});
    }
    return options;
}

void ReclaimLibavLog() {
    av_log_set_callback(&OnLibavMessage);
}

}  // namespace LibraryLog
