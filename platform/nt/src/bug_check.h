// Bug checks: a driver fault or a broken kernel rule stops the machine. The
// record (code, parameters, the driver and routine that ran, a stack trace)
// goes to the log (stderr, the daemon's log) and to the crash file, then the
// process ends at once: nothing a faulting driver touched can be trusted to
// shut down cleanly, and the registry is already on disk.
#pragma once

#include <string>

#include "ntddk.h"

namespace nt {

namespace stop {
constexpr ULONG kKmodeExceptionNotHandled = 0x1E;
constexpr ULONG kMultipleIrpCompleteRequests = 0x44;
constexpr ULONG kDriverVerifierDetectedViolation = 0xC4;
constexpr ULONG kDriverUnloadedWithPendingOperations = 0xCE;

// First parameter of kDriverVerifierDetectedViolation.
constexpr ULONG_PTR kSpinLockAtWrongIrql = 0x01;    // lock, current IRQL, required IRQL
constexpr ULONG_PTR kSpinLockReentered = 0x02;      // lock
constexpr ULONG_PTR kSpinLockNotHeld = 0x03;        // lock released by a thread that does not hold it
constexpr ULONG_PTR kWaitAtDispatch = 0x04;         // object, current IRQL
constexpr ULONG_PTR kRequestPendingAtRemove = 0x05; // IRP, device
constexpr ULONG_PTR kPoolLeftAtUnload = 0x62;       // bytes, allocations
constexpr ULONG_PTR kMdlsLeftAtUnload = 0x63;       // MDLs
}  // namespace stop

// Marks the current thread as running `routine` of `driver` while it lives,
// so a fault or a broken rule names them.
class DriverCallScope {
public:
    DriverCallScope(PDRIVER_OBJECT driver, const char* routine);
    ~DriverCallScope();
    DriverCallScope(const DriverCallScope&) = delete;
    DriverCallScope& operator=(const DriverCallScope&) = delete;

    PDRIVER_OBJECT driver;
    const char* routine;
    const DriverCallScope* outer;
};

// The driver whose routine the current thread runs, null on none.
PDRIVER_OBJECT currentDriver();

// "IRP_MJ_DEVICE_CONTROL" and so on; a stable string.
const char* majorFunctionName(UCHAR major);

// A driver module and its object, so addresses on a stack can be told apart.
void registerDriverModule(PDRIVER_OBJECT object, const void* addressInModule, const std::string& service);
void unregisterDriverModule(PDRIVER_OBJECT object);

// The service name of a loaded driver object, empty when unknown.
std::string driverServiceName(PDRIVER_OBJECT object);

// Catches faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE) while a kernel runs and
// turns them into bug checks; `crashFile` (may be empty) gets the record.
void installFaultHandlers(const std::string& crashFile);
void removeFaultHandlers();

// The loaded driver whose module holds `address`, null for none.
PDRIVER_OBJECT driverAt(const void* address);

// Stops the machine. `reason` says in words what broke.
[[noreturn]] void bugCheck(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4, const char* reason);
// The same, naming `driver` when no driver code is on the stack.
[[noreturn]] void bugCheckFor(PDRIVER_OBJECT driver, ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3,
                              ULONG_PTR p4, const char* reason);

}  // namespace nt
