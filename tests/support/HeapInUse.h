#pragma once

#include <malloc.h>

// Bytes the program holds from malloc, in KiB, over every thread's arena. Unlike the
// resident size it does not move with the allocator's caches, so a leak shows in it.
inline long HeapInUseKb() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

// Sanitizers replace malloc and keep freed memory in quarantine: the figure means nothing
// under them.
constexpr bool kHeapMeasurable =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    false;
#else
    true;
#endif
