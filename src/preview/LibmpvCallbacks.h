#pragma once

struct mpv_render_context;

// Where libmpv is handed the callbacks its own threads call. libmpv's setter leaves by
// a tail call to pthread_mutex_unlock, so ThreadSanitizer takes the unlock for its
// caller's while the lock, taken inside the uninstrumented libmpv, stays hidden from
// it: "unlock of an unlocked mutex", which is no fault. This function does nothing else,
// so scripts/tsan.supp can name it and nothing more.
namespace LibmpvCallbacks {

void SetRenderUpdate(mpv_render_context* render, void (*callback)(void*), void* context);

}  // namespace LibmpvCallbacks
