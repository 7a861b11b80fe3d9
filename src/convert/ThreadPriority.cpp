#include "ThreadPriority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ThreadPriority {

void LowerForBackgroundWork() {
#if defined(__linux__)
    // On Linux the nice value belongs to the thread, not to the whole process.
    constexpr int kBackgroundNice = 10;
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    const int now = getpriority(PRIO_PROCESS, tid);
    if (now < kBackgroundNice) {
        // A failure leaves the thread as it was, which only costs smoothness.
        (void)setpriority(PRIO_PROCESS, tid, kBackgroundNice);
    }
#endif
}

}  // namespace ThreadPriority
