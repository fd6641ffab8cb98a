// IRP allocation, dispatch, completion and cancellation.
#include "irp.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "bug_check.h"
#include "irql.h"
#include "log.h"
#include "verifier.h"

namespace nt {
namespace {

KSPIN_LOCK g_cancelLock = 0;

// Set once an IRP's completion reached its sender.
constexpr ULONG kIrpCompleted = 0x20000000;
constexpr CSHORT kIrpType = 6;

// Under the verifier freed IRPs are kept a while (marked as no IRP), so a
// late second completion finds them instead of reused memory.
class IrpQuarantine {
public:
    void hold(PIRP irp) {
        irp->Type = 0;
        std::lock_guard lock(mutex_);
        std::free(slots_[next_]);
        slots_[next_] = irp;
        next_ = (next_ + 1) % std::size(slots_);
    }
    ~IrpQuarantine() {
        for (PIRP irp : slots_) std::free(irp);
    }

private:
    std::mutex mutex_;
    PIRP slots_[256] = {};
    size_t next_ = 0;
};

IrpQuarantine g_quarantine;

[[noreturn]] void completedTwice(PIRP irp) {
    bugCheck(stop::kMultipleIrpCompleteRequests, reinterpret_cast<ULONG_PTR>(irp), 0, 0, 0,
             "a request was completed twice");
}

PIO_STACK_LOCATION stackBase(PIRP irp) { return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1); }

}  // namespace

NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

namespace {

// An abandoned request's IRP and state belong to its driver from then on:
// never freed, and not a leak.
void leaveWithDriver(PIRP irp, const void* state) {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(irp);
    __lsan_ignore_object(state);
#else
    (void)irp;
    (void)state;
#endif
}

// Lives on the heap: a request abandoned after its limit may still complete.
// `done` comes first: the IRP's UserEvent leads back to the state.
struct SendState {
    KEVENT done;
    IO_STATUS_BLOCK result{};
    std::atomic<bool> abandoned{false};
};

std::optional<IO_STATUS_BLOCK> send(PDEVICE_OBJECT target, const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                                    const std::function<void(PIRP)>& inFlight, std::chrono::milliseconds limit) {
    PIRP irp = IoAllocateIrp(target->StackSize, FALSE);
    if (!irp) {
        IO_STATUS_BLOCK failed{};
        failed.Status = STATUS_INSUFFICIENT_RESOURCES;
        return failed;
    }
    auto* state = new SendState;
    KeInitializeEvent(&state->done, NotificationEvent, FALSE);
    irp->UserEvent = &state->done;
    irp->UserIosb = &state->result;
    irp->Flags |= kIrpSenderOwned;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    prepare(irp, stack);
    const UCHAR major = stack->MajorFunction, minor = stack->MinorFunction;
    if (inFlight) inFlight(irp);
    IofCallDriver(target, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(limit.count()) * 10000;
    const bool bounded = limit.count() > 0;
    const NTSTATUS waited =
        KeWaitForSingleObject(&state->done, Executive, KernelMode, FALSE, bounded ? &timeout : nullptr);
    if (state->abandoned.load()) {
        if (inFlight) inFlight(nullptr);
        leaveWithDriver(irp, state);
        return std::nullopt;  // given up by abandonRequest, which logged it
    }
    if (waited == STATUS_TIMEOUT) {
        const std::string driver = driverServiceName(target->DriverObject);
        klog("driver %s did not complete %s (minor 0x%02X, IRP %p) in %lld ms; the request is abandoned",
             driver.empty() ? "(unknown)" : driver.c_str(), majorFunctionName(major), minor, static_cast<void*>(irp),
             static_cast<long long>(limit.count()));
        if (inFlight) inFlight(nullptr);
        leaveWithDriver(irp, state);
        return std::nullopt;  // the IRP and its state stay with the driver
    }
    if (inFlight) inFlight(nullptr);
    IoFreeIrp(irp);
    const IO_STATUS_BLOCK result = state->result;
    delete state;
    return result;
}

}  // namespace

IO_STATUS_BLOCK sendAndWait(PDEVICE_OBJECT target, const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                            const std::function<void(PIRP)>& inFlight) {
    return *send(target, prepare, inFlight, std::chrono::milliseconds(0));
}

std::optional<IO_STATUS_BLOCK> sendAndWaitAbandonable(PDEVICE_OBJECT target,
                                                      const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                                                      const std::function<void(PIRP)>& inFlight) {
    return send(target, prepare, inFlight, std::chrono::milliseconds(0));
}

void abandonRequest(PIRP irp) {
    static_assert(offsetof(SendState, done) == 0);
    auto* state = reinterpret_cast<SendState*>(irp->UserEvent);
    state->abandoned.store(true);
    KeSetEvent(&state->done, IO_NO_INCREMENT, FALSE);
}

UCHAR requestMajor(PIRP irp) { return (stackBase(irp) + irp->StackCount - 1)->MajorFunction; }

std::optional<IO_STATUS_BLOCK> sendAndWaitBounded(PDEVICE_OBJECT target,
                                                  const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                                                  std::chrono::milliseconds limit) {
    return send(target, prepare, {}, limit);
}

namespace {
std::atomic<int64_t> g_driverWaitMs{10000};
}  // namespace

std::chrono::milliseconds driverWaitLimit() { return std::chrono::milliseconds(g_driverWaitMs.load()); }

void setDriverWaitLimit(std::chrono::milliseconds limit) { g_driverWaitMs = limit.count(); }

}  // namespace nt

using namespace nt;

extern "C" {

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
    if (StackSize < 1) return nullptr;
    const size_t size = sizeof(IRP) + static_cast<size_t>(StackSize) * sizeof(IO_STACK_LOCATION);
    auto* irp = static_cast<PIRP>(std::calloc(1, size));
    if (!irp) return nullptr;
    irp->Type = 6;
    irp->Size = static_cast<USHORT>(size);
    irp->StackCount = StackSize;
    irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = stackBase(irp) + StackSize;
    InitializeListHead(&irp->ThreadListEntry);
    return irp;
}

VOID IoFreeIrp(PIRP Irp) {
    if (!Irp) return;
    verifier::finished(Irp);
    if (verifier::enabled())
        g_quarantine.hold(Irp);
    else
        std::free(Irp);
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    IoSetNextIrpStackLocation(Irp);
    if (Irp->CurrentLocation <= 0) {
        klog("IoCallDriver: no stack location left for device %p", static_cast<void*>(DeviceObject));
        IoSkipCurrentIrpStackLocation(Irp);
        Irp->IoStatus.Status = STATUS_INTERNAL_ERROR;
        Irp->IoStatus.Information = 0;
        IofCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_INTERNAL_ERROR;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    stack->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    if (!dispatch) dispatch = invalidDeviceRequest;
    Irp->Flags &= ~kIrpCompleted;
    verifier::sent(Irp, DeviceObject);
    DriverCallScope call(DeviceObject->DriverObject, majorFunctionName(stack->MajorFunction));
    return dispatch(DeviceObject, Irp);
}

// Walks the stack back up: each location's completion routine runs (as its
// control flags ask) with the device of the driver that set it; a routine
// returning STATUS_MORE_PROCESSING_REQUIRED takes the IRP back.
VOID IofCompleteRequest(PIRP Irp, CCHAR) {
    if (Irp->Type != kIrpType || (Irp->Flags & kIrpCompleted) || Irp->CurrentLocation > Irp->StackCount + 1) {
        if (verifier::enabled()) completedTwice(Irp);
        klog("IoCompleteRequest: IRP %p completed twice", static_cast<void*>(Irp));
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) {
        klog("IoCompleteRequest: IRP %p completed with STATUS_PENDING", static_cast<void*>(Irp));
        Irp->IoStatus.Status = STATUS_INTERNAL_ERROR;
    }
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        const UCHAR control = stack->Control;
        std::memset(stack, 0, sizeof(*stack));
        IoSkipCurrentIrpStackLocation(Irp);
        const bool invoke = routine && ((NT_SUCCESS(Irp->IoStatus.Status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                        (!NT_SUCCESS(Irp->IoStatus.Status) && (control & SL_INVOKE_ON_ERROR)) ||
                                        (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT owner =
                Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
            if (routine(owner, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            IoMarkIrpPending(Irp);
        }
    }
    // Back at the sender.
    Irp->Flags |= kIrpCompleted;
    verifier::finished(Irp);
    if (Irp->UserIosb) *Irp->UserIosb = Irp->IoStatus;
    if (Irp->UserEvent) {
        KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);  // the sender frees the IRP
    } else if (!(Irp->Flags & kIrpSenderOwned)) {
        IoFreeIrp(Irp);
    }
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&g_cancelLock, Irql); }
VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&g_cancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device =
        Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
    routine(device, Irp);  // releases the cancel lock
    return TRUE;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) { return IofCallDriver(DeviceObject, Irp); }
VOID PoStartNextPowerIrp(PIRP) {}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT, POWER_STATE_TYPE, POWER_STATE State) {
    // The machine keeps no per-device power bookkeeping of its own.
    return State;
}

}  // extern "C"
