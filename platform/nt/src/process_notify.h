// The routines drivers registered for process exits.
#pragma once

#include <mutex>
#include <vector>

#include "nt/kernel_host.h"
#include "nt/ps.h"

namespace nt {

class ProcessNotify {
public:
    static constexpr size_t kMostRoutines = 8;

    NTSTATUS add(PCREATE_PROCESS_NOTIFY_ROUTINE routine);
    NTSTATUS remove(PCREATE_PROCESS_NOTIFY_ROUTINE routine);
    // Calls every routine for the process, in the order they were added, on
    // this thread in the process's context.
    void processExited(UserProcess& process);

private:
    std::mutex mutex_;
    std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> routines_;
};

}  // namespace nt
