#pragma once

struct mpv_handle;
struct mpv_render_context;

// Where libmpv is handed the callbacks its own threads call. Both of libmpv's setters
// leave by a tail call to pthread_mutex_unlock, so ThreadSanitizer takes the unlock for
// their caller's while the lock, taken inside the uninstrumented libmpv, stays hidden
// from it: "unlock of an unlocked mutex", which is no fault. These two functions do
// nothing else, so scripts/tsan.supp can name them and nothing more.
namespace LibmpvCallbacks {

void SetWakeup(mpv_handle* mpv, void (*callback)(void*), void* context);
void SetRenderUpdate(mpv_render_context* render, void (*callback)(void*), void* context);

}  // namespace LibmpvCallbacks
