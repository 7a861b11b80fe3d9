#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <thread>

// Runs fn on a thread of its own that, even as root, cannot override file modes: its
// effective capabilities lose CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER.
// Capabilities belong to a thread and pass to the threads it starts, so a conversion
// job started inside fn meets a read-only file as a user's would. The process keeps
// its own. Returns false when the capabilities could not be dropped (fn did not run).
inline bool RunWithoutFileOverride(const std::function<void()>& fn) {
    bool dropped = false;
    std::thread worker([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) {
            return;
        }
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            data[cap / 32].effective &= ~(1u << (cap % 32));
            data[cap / 32].permitted &= ~(1u << (cap % 32));
        }
        if (syscall(SYS_capset, &header, data) != 0) {
            return;
        }
        dropped = true;
        fn();
    });
    worker.join();
    return dropped;
}
