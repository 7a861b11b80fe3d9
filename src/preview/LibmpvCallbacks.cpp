#include "LibmpvCallbacks.h"

#include <mpv/client.h>
#include <mpv/render.h>

namespace LibmpvCallbacks {

// Not inlined, and the barrier keeps each call a real call, so that these frames are
// the ones the unlock is reported from.
[[gnu::noinline]] void SetWakeup(mpv_handle* mpv, void (*callback)(void*), void* context) {
    mpv_set_wakeup_callback(mpv, callback, context);
    asm volatile("" ::: "memory");
}

[[gnu::noinline]] void SetRenderUpdate(mpv_render_context* render, void (*callback)(void*),
                                       void* context) {
    mpv_render_context_set_update_callback(render, callback, context);
    asm volatile("" ::: "memory");
}

}  // namespace LibmpvCallbacks
