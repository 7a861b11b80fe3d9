#include "LibmpvCallbacks.h"

#include <mpv/render.h>

namespace LibmpvCallbacks {

// Not inlined, and the barrier keeps the call a real call, so that this frame is the
// one the unlock is reported from.
[[gnu::noinline]] void SetRenderUpdate(mpv_render_context* render, void (*callback)(void*),
                                       void* context) {
    mpv_render_context_set_update_callback(render, callback, context);
    asm volatile("" ::: "memory");
}

}  // namespace LibmpvCallbacks
