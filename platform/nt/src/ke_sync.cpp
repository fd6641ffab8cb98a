// IRQL, spin locks, events and time.
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bug_check.h"
#include "irql.h"
#include "log.h"
#include "verifier.h"

namespace nt {
namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;

// Windows system time: 100 ns units since 1601-01-01.
constexpr int64_t kEpochDifference100ns = 116444736000000000LL;

int64_t systemTime100ns() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return kEpochDifference100ns + now.tv_sec * 10000000LL + now.tv_nsec / 100;
}

int64_t monotonic100ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 10000000LL + now.tv_nsec / 100;
}

long futexWait(volatile LONG* address, LONG expected, const timespec* timeout) {
    return syscall(SYS_futex, const_cast<LONG*>(address), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

void futexWakeAll(volatile LONG* address) {
    syscall(SYS_futex, const_cast<LONG*>(address), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

}  // namespace

KIRQL currentIrql() { return t_irql; }
void setCurrentIrql(KIRQL irql) { t_irql = irql; }

namespace {

// What a held spin lock's word holds: a value unique to the holding thread.
ULONG_PTR ownerToken() {
    static thread_local char token;
    return reinterpret_cast<ULONG_PTR>(&token);
}

void checkLockIrql(PKSPIN_LOCK lock, bool atDpcLevel) {
    const KIRQL irql = currentIrql();
    if (!verifier::enabled() || (atDpcLevel ? irql >= DISPATCH_LEVEL : irql <= DISPATCH_LEVEL)) return;
    bugCheck(stop::kDriverVerifierDetectedViolation, stop::kSpinLockAtWrongIrql, reinterpret_cast<ULONG_PTR>(lock),
             irql, DISPATCH_LEVEL,
             atDpcLevel ? "a spin lock was acquired at DPC level from below dispatch level"
                        : "a spin lock was acquired above dispatch level");
}

// Only a zero timeout (a poll) is allowed at dispatch level.
void waitingAtDispatch(PVOID object) {
    if (verifier::enabled())
        bugCheck(stop::kDriverVerifierDetectedViolation, stop::kWaitAtDispatch, reinterpret_cast<ULONG_PTR>(object),
                 currentIrql(), 0, "a wait with a timeout at dispatch level");
    klog("KeWaitForSingleObject: waiting at dispatch level");
}

}  // namespace

void acquireSpinLock(PKSPIN_LOCK lock) {
    auto* word = reinterpret_cast<std::atomic<ULONG_PTR>*>(lock);
    static_assert(sizeof(std::atomic<ULONG_PTR>) == sizeof(KSPIN_LOCK));
    const ULONG_PTR me = ownerToken();
    if (word->load(std::memory_order_relaxed) == me)
        bugCheck(stop::kDriverVerifierDetectedViolation, stop::kSpinLockReentered, reinterpret_cast<ULONG_PTR>(lock),
                 0, 0, "a spin lock was acquired again by the thread that holds it");
    for (unsigned spins = 0;; ++spins) {
        ULONG_PTR expected = 0;
        if (word->compare_exchange_weak(expected, me, std::memory_order_acquire)) return;
        // Two cores are shared with the whole machine: a holder that was
        // preempted needs the CPU, so yield instead of burning it.
        if (spins > 64) sched_yield();
    }
}

void releaseSpinLock(PKSPIN_LOCK lock) {
    auto* word = reinterpret_cast<std::atomic<ULONG_PTR>*>(lock);
    if (verifier::enabled() && word->load(std::memory_order_relaxed) != ownerToken())
        bugCheck(stop::kDriverVerifierDetectedViolation, stop::kSpinLockNotHeld, reinterpret_cast<ULONG_PTR>(lock),
                 word->load(std::memory_order_relaxed), 0, "a spin lock was released by a thread that does not hold it");
    word->store(0, std::memory_order_release);
}

}  // namespace nt

using namespace nt;

extern "C" {

KIRQL KeGetCurrentIrql(void) { return currentIrql(); }

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
    *OldIrql = currentIrql();
    if (NewIrql < *OldIrql) klog("KeRaiseIrql: %u is below the current level %u", NewIrql, *OldIrql);
    setCurrentIrql(NewIrql);
}

VOID KeLowerIrql(KIRQL NewIrql) { setCurrentIrql(NewIrql); }

KIRQL KeRaiseIrqlToDpcLevel(void) {
    KIRQL old = currentIrql();
    if (old < DISPATCH_LEVEL) setCurrentIrql(DISPATCH_LEVEL);
    return old;
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { *SpinLock = 0; }

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) { *OldIrql = KeAcquireSpinLockRaiseToDpc(SpinLock); }

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
    checkLockIrql(SpinLock, false);
    KIRQL old = KeRaiseIrqlToDpcLevel();
    acquireSpinLock(SpinLock);
    return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    releaseSpinLock(SpinLock);
    setCurrentIrql(NewIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
    checkLockIrql(SpinLock, true);
    acquireSpinLock(SpinLock);
}
VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) { releaseSpinLock(SpinLock); }

// ---- events: the signal state is the futex word ---------------------------------
VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    Event->Header.Type = static_cast<UCHAR>(Type);
    Event->Header.Signalling = 0;
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.Reserved1 = 0;
    __atomic_store_n(&Event->Header.SignalState, State ? 1 : 0, __ATOMIC_SEQ_CST);
    InitializeListHead(&Event->Header.WaitListHead);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
    LONG previous = __atomic_exchange_n(&Event->Header.SignalState, 1, __ATOMIC_SEQ_CST);
    if (previous == 0) futexWakeAll(&Event->Header.SignalState);
    return previous;
}

LONG KeResetEvent(PRKEVENT Event) { return __atomic_exchange_n(&Event->Header.SignalState, 0, __ATOMIC_SEQ_CST); }
VOID KeClearEvent(PRKEVENT Event) { __atomic_store_n(&Event->Header.SignalState, 0, __ATOMIC_SEQ_CST); }
LONG KeReadStateEvent(PRKEVENT Event) { return __atomic_load_n(&Event->Header.SignalState, __ATOMIC_SEQ_CST); }

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout) {
    auto* event = static_cast<PRKEVENT>(Object);
    volatile LONG* state = &event->Header.SignalState;
    const bool synchronization = event->Header.Type == SynchronizationEvent;
    int64_t deadline = INT64_MAX;  // monotonic, 100 ns
    if (Timeout) {
        if (Timeout->QuadPart < 0)
            deadline = monotonic100ns() - Timeout->QuadPart;
        else
            deadline = monotonic100ns() + std::max<int64_t>(0, Timeout->QuadPart - systemTime100ns());
        if (currentIrql() >= DISPATCH_LEVEL && Timeout->QuadPart != 0) waitingAtDispatch(Object);
    } else if (currentIrql() >= DISPATCH_LEVEL) {
        waitingAtDispatch(Object);
    }
    for (;;) {
        LONG value = __atomic_load_n(state, __ATOMIC_SEQ_CST);
        if (value != 0) {
            if (!synchronization) return STATUS_SUCCESS;
            if (__atomic_compare_exchange_n(state, &value, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
                return STATUS_SUCCESS;
            continue;
        }
        timespec relative{};
        const timespec* timeout = nullptr;
        if (deadline != INT64_MAX) {
            int64_t left = deadline - monotonic100ns();
            if (left <= 0) return STATUS_TIMEOUT;
            relative.tv_sec = left / 10000000;
            relative.tv_nsec = (left % 10000000) * 100;
            timeout = &relative;
        }
        futexWait(state, 0, timeout);
    }
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
    if (currentIrql() >= DISPATCH_LEVEL) waitingAtDispatch(Interval);
    int64_t wait100ns = Interval->QuadPart < 0 ? -Interval->QuadPart
                                                : std::max<int64_t>(0, Interval->QuadPart - systemTime100ns());
    std::this_thread::sleep_for(std::chrono::nanoseconds(wait100ns * 100));
    return STATUS_SUCCESS;
}

// ---- time ---------------------------------------------------------------------------------
VOID KeStallExecutionProcessor(ULONG MicroSeconds) {
    if (MicroSeconds > 1000000) MicroSeconds = 1000000;  // the documented limit is far lower
    const int64_t end = monotonic100ns() + int64_t{MicroSeconds} * 10;
    while (monotonic100ns() < end) {
    }
}

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime) { CurrentTime->QuadPart = systemTime100ns(); }

// Ticks of KeQueryTimeIncrement (15.625 ms, 156250 units of 100 ns).
VOID KeQueryTickCount(PLARGE_INTEGER TickCount) { TickCount->QuadPart = monotonic100ns() / 156250; }
ULONG KeQueryTimeIncrement(void) { return 156250; }

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency) {
    if (PerformanceFrequency) PerformanceFrequency->QuadPart = 10000000;
    LARGE_INTEGER now;
    now.QuadPart = monotonic100ns();
    return now;
}

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4) {
    bugCheck(BugCheckCode, P1, P2, P3, P4, "the driver called KeBugCheckEx");
}

}  // extern "C"
