#include "wait_queue.h"

#include "outstanding.h"

namespace {

// Each wait keeps, in its driver context, the number of multiples of 4
// reached before it arrived and before it became the pending wait: the
// first multiple after both completes it. A wait never completes at a
// multiple that happened before it was sent, however late the DPC runs.
ULONGLONG arrivedAfter(PIRP irp) { return reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[0]); }
ULONGLONG armedAfter(PIRP irp) { return reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]); }
void setArrivedAfter(PIRP irp, ULONGLONG value) {
    irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(value));
}
void setArmedAfter(PIRP irp, ULONGLONG value) {
    irp->Tail.Overlay.DriverContext[1] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(value));
}

ULONGLONG later(ULONGLONG a, ULONGLONG b) { return a > b ? a : b; }

// A file's context marks it cleaned up: its handle is closing and nothing
// will cancel a wait that arrives on it after the cleanup.
PVOID const kCleanedUp = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(1));

bool cleanedUp(PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    return file != nullptr && file->FsContext == kCleanedUp;
}

// With WaitLock held: the first queued wait becomes the pending one.
void promoteNext(AudioDeviceState* state, ULONGLONG after) {
    state->PendingWait = nullptr;
    if (IsListEmpty(&state->WaitQueue)) {
        return;
    }
    PIRP next = CONTAINING_RECORD(RemoveHeadList(&state->WaitQueue), IRP, Tail.Overlay.ListEntry);
    setArmedAfter(next, later(arrivedAfter(next), after));
    state->PendingWait = next;
}

void completeList(AudioDeviceState* state, PLIST_ENTRY done) {
    while (!IsListEmpty(done)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(done), IRP, Tail.Overlay.ListEntry);
        const NTSTATUS status = irp->IoStatus.Status;
        giveOutstanding(state);
        completeRequest(irp, status);
    }
}

}  // namespace

NTSTATUS queueWait(AudioDeviceState* state, PIRP irp) {
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&state->WaitLock);
    // Checked again under the lock: a stop raises the flags before it
    // cancels what is queued, so no wait slips in behind it.
    if (state->StopPending.load() || state->NotReady.load()) {
        KeReleaseSpinLock(&state->WaitLock, irql);
        giveOutstanding(state);
        return completeRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    if (cleanedUp(irp)) {
        KeReleaseSpinLock(&state->WaitLock, irql);
        giveOutstanding(state);
        return completeRequest(irp, STATUS_CANCELLED);
    }
    IoSetCancelRoutine(irp, AudioCancelWait);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&state->WaitLock, irql);
        giveOutstanding(state);
        return completeRequest(irp, STATUS_CANCELLED);
    }
    IoMarkIrpPending(irp);
    const ULONGLONG now = state->quadruples.load();
    setArrivedAfter(irp, now);
    if (state->PendingWait == nullptr) {
        setArmedAfter(irp, now);
        state->PendingWait = irp;
    } else {
        InsertTailList(&state->WaitQueue, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&state->WaitLock, irql);
    return STATUS_PENDING;
}

// The pending wait stays cancellable too: when the block interrupts stop,
// nothing else would ever complete it.
VOID AudioCancelWait(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    AudioDeviceState* state = audioState(device);
    bool found = false;
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&state->WaitLock);
    if (state->PendingWait == irp) {
        promoteNext(state, state->quadruples.load());
        found = true;
    } else {
        for (PLIST_ENTRY entry = state->WaitQueue.Flink; entry != &state->WaitQueue; entry = entry->Flink) {
            if (entry == &irp->Tail.Overlay.ListEntry) {
                RemoveEntryList(entry);
                found = true;
                break;
            }
        }
    }
    KeReleaseSpinLock(&state->WaitLock, irql);
    // Whoever cleared the cancel routine first owns the request, so it is
    // always still here; the check only guards against a double completion.
    if (found) {
        giveOutstanding(state);
        completeRequest(irp, STATUS_CANCELLED);
    }
}

VOID AudioWaitDpc(PKDPC, PVOID context, PVOID, PVOID) {
    auto* state = static_cast<AudioDeviceState*>(context);
    LIST_ENTRY done;
    InitializeListHead(&done);
    KeAcquireSpinLockAtDpcLevel(&state->WaitLock);
    const ULONGLONG reached = state->quadruples.load();
    while (PIRP irp = state->PendingWait) {
        if (armedAfter(irp) >= reached) {
            break;
        }
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
            // Its cancel routine runs and waits for the lock: it takes the
            // request out and promotes the next one itself.
            break;
        }
        irp->IoStatus.Status = irp->Cancel ? STATUS_CANCELLED : STATUS_SUCCESS;
        InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
        promoteNext(state, armedAfter(irp) + 1);
    }
    KeReleaseSpinLockFromDpcLevel(&state->WaitLock);
    completeList(state, &done);
}

void cancelAllWaits(AudioDeviceState* state, PFILE_OBJECT closing) {
    LIST_ENTRY done;
    InitializeListHead(&done);
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&state->WaitLock);
    if (closing != nullptr) {
        closing->FsContext = kCleanedUp;
    }
    LIST_ENTRY waits;
    InitializeListHead(&waits);
    if (state->PendingWait != nullptr) {
        InsertTailList(&waits, &state->PendingWait->Tail.Overlay.ListEntry);
        state->PendingWait = nullptr;
    }
    while (!IsListEmpty(&state->WaitQueue)) {
        InsertTailList(&waits, RemoveHeadList(&state->WaitQueue));
    }
    while (!IsListEmpty(&waits)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&waits), IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
            // Being cancelled: left where its cancel routine looks for it.
            InsertTailList(&state->WaitQueue, &irp->Tail.Overlay.ListEntry);
            continue;
        }
        irp->Cancel = TRUE;
        irp->IoStatus.Status = STATUS_CANCELLED;
        InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&state->WaitLock, irql);
    completeList(state, &done);
}
