// The driver verifier ([kernel] verifier = true): the kernel's rules become
// bug checks naming the driver that broke them. Checked with it on: a request
// completed twice, spin locks taken at the wrong IRQL or released by a thread
// that does not hold them, waits at dispatch level, requests still pending
// when their device is removed, pool and MDLs a driver still holds when it is
// unloaded. A spin lock re-entered by its holder is a bug check either way:
// it could only deadlock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ntddk.h"

namespace nt::verifier {

bool enabled();
void enable(bool on);

enum class Resource { Pool, Mdl };

// Records a block allocated by the code at `caller` (only a driver's own
// calls count) and its release.
void allocated(Resource kind, const void* block, size_t size, const void* caller);
void freed(Resource kind, const void* block);
// Bug check when the driver still holds pool or MDLs.
void checkUnload(PDRIVER_OBJECT driver, const std::string& service);

// Requests in flight: sent to a device, until their final completion.
void sent(PIRP irp, PDEVICE_OBJECT device);
void finished(PIRP irp);
// A device of a stack and its driver, taken before the stack is removed
// (the device object may be gone by the time it is checked).
struct StackMember {
    PDEVICE_OBJECT device;
    PDRIVER_OBJECT driver;
};
std::vector<StackMember> stackOf(PDEVICE_OBJECT pdo);
// Bug check when a request sent to one of `stack` has not finished.
void checkNothingPending(const std::vector<StackMember>& stack);

}  // namespace nt::verifier
