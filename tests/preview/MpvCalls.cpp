#include "MpvCalls.h"

#include <dlfcn.h>
#include <mpv/client.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_count{0};
char g_last[128] = "";

void Note(const char* name) {
    QCoreApplication* app = QCoreApplication::instance();
    if (g_armed.load() && app != nullptr && QThread::currentThread() == app->thread()) {
        ++g_count;
        std::snprintf(g_last, sizeof g_last, "%s", name);
    }
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

namespace MpvCalls {

void Arm(bool on) {
    g_armed.store(on);
}

int Count() {
    return g_count.load();
}

const char* Last() {
    return g_last;
}

}  // namespace MpvCalls

// The synchronous ones, each counted and handed on.
extern "C" {

int mpv_get_property(mpv_handle* ctx, const char* name, mpv_format format, void* data) {
    Note("mpv_get_property");
    static const auto next = Next<int (*)(mpv_handle*, const char*, mpv_format, void*)>(__func__);
    return next(ctx, name, format, data);
}

char* mpv_get_property_string(mpv_handle* ctx, const char* name) {
    Note("mpv_get_property_string");
    static const auto next = Next<char* (*)(mpv_handle*, const char*)>(__func__);
    return next(ctx, name);
}

int mpv_set_property(mpv_handle* ctx, const char* name, mpv_format format, void* data) {
    Note("mpv_set_property");
    static const auto next = Next<int (*)(mpv_handle*, const char*, mpv_format, void*)>(__func__);
    return next(ctx, name, format, data);
}

int mpv_set_property_string(mpv_handle* ctx, const char* name, const char* data) {
    Note("mpv_set_property_string");
    static const auto next = Next<int (*)(mpv_handle*, const char*, const char*)>(__func__);
    return next(ctx, name, data);
}

int mpv_command(mpv_handle* ctx, const char** args) {
    Note("mpv_command");
    static const auto next = Next<int (*)(mpv_handle*, const char**)>(__func__);
    return next(ctx, args);
}

int mpv_command_string(mpv_handle* ctx, const char* args) {
    Note("mpv_command_string");
    static const auto next = Next<int (*)(mpv_handle*, const char*)>(__func__);
    return next(ctx, args);
}

int mpv_command_node(mpv_handle* ctx, mpv_node* args, mpv_node* result) {
    Note("mpv_command_node");
    static const auto next = Next<int (*)(mpv_handle*, mpv_node*, mpv_node*)>(__func__);
    return next(ctx, args, result);
}

int mpv_initialize(mpv_handle* ctx) {
    Note("mpv_initialize");
    static const auto next = Next<int (*)(mpv_handle*)>(__func__);
    return next(ctx);
}

int mpv_command_ret(mpv_handle* ctx, const char** args, mpv_node* result) {
    Note("mpv_command_ret");
    static const auto next = Next<int (*)(mpv_handle*, const char**, mpv_node*)>(__func__);
    return next(ctx, args, result);
}

}  // extern "C"
