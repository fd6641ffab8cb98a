#include "process_notify.h"

#include <algorithm>
#include <cstdint>

#include "runtime.h"

namespace nt {

NTSTATUS ProcessNotify::add(PCREATE_PROCESS_NOTIFY_ROUTINE routine) {
    std::lock_guard lock(mutex_);
    if (routine == nullptr || routines_.size() >= kMostRoutines ||
        std::find(routines_.begin(), routines_.end(), routine) != routines_.end())
        return STATUS_INVALID_PARAMETER;
    routines_.push_back(routine);
    return STATUS_SUCCESS;
}

NTSTATUS ProcessNotify::remove(PCREATE_PROCESS_NOTIFY_ROUTINE routine) {
    std::lock_guard lock(mutex_);
    auto it = std::find(routines_.begin(), routines_.end(), routine);
    if (it == routines_.end()) return STATUS_INVALID_PARAMETER;
    routines_.erase(it);
    return STATUS_SUCCESS;
}

void ProcessNotify::processExited(UserProcess& process) {
    std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> routines;
    {
        std::lock_guard lock(mutex_);
        routines = routines_;
    }
    ProcessContext context(&process);
    const HANDLE id = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process.processId()));
    for (PCREATE_PROCESS_NOTIFY_ROUTINE routine : routines) routine(nullptr, id, FALSE);
}

}  // namespace nt

extern "C" {

HANDLE PsGetCurrentProcessId(VOID) {
    nt::UserProcess* process = nt::currentProcess();
    return process != nullptr ? reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process->processId())) : nullptr;
}

NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE NotifyRoutine, BOOLEAN Remove) {
    nt::Runtime* rt = nt::runtime();
    if (rt == nullptr || rt->processNotify == nullptr) return STATUS_INVALID_PARAMETER;
    return Remove ? rt->processNotify->remove(NotifyRoutine) : rt->processNotify->add(NotifyRoutine);
}

}  // extern "C"
