// Kernel core: interrupt request levels, spin locks, events, lists, DPCs and
// device queues.
#pragma once

#include "nt/ntdef.h"

typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define PROFILE_LEVEL 27
#define HIGH_LEVEL 31

typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;

// ---- doubly linked lists (inline, as in the real headers) -----------------
FORCEINLINE VOID InitializeListHead(PLIST_ENTRY ListHead) { ListHead->Flink = ListHead->Blink = ListHead; }
FORCEINLINE BOOLEAN IsListEmpty(const LIST_ENTRY* ListHead) { return (BOOLEAN)(ListHead->Flink == ListHead); }
FORCEINLINE BOOLEAN RemoveEntryList(PLIST_ENTRY Entry) {
    PLIST_ENTRY Blink = Entry->Blink;
    PLIST_ENTRY Flink = Entry->Flink;
    Blink->Flink = Flink;
    Flink->Blink = Blink;
    return (BOOLEAN)(Flink == Blink);
}
FORCEINLINE PLIST_ENTRY RemoveHeadList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY Entry = ListHead->Flink;
    RemoveEntryList(Entry);
    return Entry;
}
FORCEINLINE PLIST_ENTRY RemoveTailList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY Entry = ListHead->Blink;
    RemoveEntryList(Entry);
    return Entry;
}
FORCEINLINE VOID InsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY Blink = ListHead->Blink;
    Entry->Flink = ListHead;
    Entry->Blink = Blink;
    Blink->Flink = Entry;
    ListHead->Blink = Entry;
}
FORCEINLINE VOID InsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY Flink = ListHead->Flink;
    Entry->Flink = Flink;
    Entry->Blink = ListHead;
    Flink->Blink = Entry;
    ListHead->Flink = Entry;
}

// ---- dispatcher objects ----------------------------------------------------
typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Signalling;
    UCHAR Size;
    UCHAR Reserved1;
    volatile LONG SignalState;  // changed only with atomic operations
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef enum _KWAIT_REASON { Executive = 0, UserRequest = 6, Suspended = 5 } KWAIT_REASON;
typedef LONG KPRIORITY;
#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1

// ---- DPCs ------------------------------------------------------------------
struct _KDPC;
typedef VOID KDEFERRED_ROUTINE(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                               PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef struct _KDPC {
    UCHAR Type;
    UCHAR Importance;
    volatile USHORT Number;
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    volatile PVOID DpcData;  // non-null while queued
} KDPC, *PKDPC, *PRKDPC;

// ---- device queues -----------------------------------------------------------
typedef struct _KDEVICE_QUEUE_ENTRY {
    LIST_ENTRY DeviceListEntry;
    ULONG SortKey;
    BOOLEAN Inserted;
} KDEVICE_QUEUE_ENTRY, *PKDEVICE_QUEUE_ENTRY;

typedef struct _KDEVICE_QUEUE {
    CSHORT Type;
    CSHORT Size;
    LIST_ENTRY DeviceListHead;
    KSPIN_LOCK Lock;
    volatile BOOLEAN Busy;
} KDEVICE_QUEUE, *PKDEVICE_QUEUE;

// ---- interrupts -----------------------------------------------------------------
typedef struct _KINTERRUPT KINTERRUPT, *PKINTERRUPT;
typedef BOOLEAN KSERVICE_ROUTINE(PKINTERRUPT Interrupt, PVOID ServiceContext);
typedef KSERVICE_ROUTINE* PKSERVICE_ROUTINE;
typedef BOOLEAN KSYNCHRONIZE_ROUTINE(PVOID SynchronizeContext);
typedef KSYNCHRONIZE_ROUTINE* PKSYNCHRONIZE_ROUTINE;
typedef enum _KINTERRUPT_MODE { LevelSensitive, Latched } KINTERRUPT_MODE;

// ---- routines ---------------------------------------------------------------------
NTKERNELAPI KIRQL KeGetCurrentIrql(void);
NTKERNELAPI VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
NTKERNELAPI VOID KeLowerIrql(KIRQL NewIrql);
NTKERNELAPI KIRQL KeRaiseIrqlToDpcLevel(void);

NTKERNELAPI VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
NTKERNELAPI KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
NTKERNELAPI VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);

NTKERNELAPI VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
NTKERNELAPI LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
NTKERNELAPI LONG KeResetEvent(PRKEVENT Event);
NTKERNELAPI VOID KeClearEvent(PRKEVENT Event);
NTKERNELAPI LONG KeReadStateEvent(PRKEVENT Event);
// Object: a KEVENT. Timeout: negative = relative, positive = absolute system
// time, in 100 ns units; null waits for ever. Returns STATUS_SUCCESS or STATUS_TIMEOUT.
NTKERNELAPI NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                           BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTKERNELAPI NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                            PLARGE_INTEGER Interval);

NTKERNELAPI VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
NTKERNELAPI BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
NTKERNELAPI BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc);
NTKERNELAPI VOID KeFlushQueuedDpcs(void);

NTKERNELAPI VOID KeInitializeDeviceQueue(PKDEVICE_QUEUE DeviceQueue);
NTKERNELAPI BOOLEAN KeInsertDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry);
NTKERNELAPI BOOLEAN KeInsertByKeyDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry,
                                             ULONG SortKey);
NTKERNELAPI PKDEVICE_QUEUE_ENTRY KeRemoveDeviceQueue(PKDEVICE_QUEUE DeviceQueue);
NTKERNELAPI BOOLEAN KeRemoveEntryDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry);

NTKERNELAPI BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                                           PVOID SynchronizeContext);
NTKERNELAPI KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt);
NTKERNELAPI VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql);

NTKERNELAPI VOID KeStallExecutionProcessor(ULONG MicroSeconds);
NTKERNELAPI VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime);
NTKERNELAPI VOID KeQueryTickCount(PLARGE_INTEGER TickCount);
NTKERNELAPI ULONG KeQueryTimeIncrement(void);
NTKERNELAPI LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency);
NTKERNELAPI VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4);

FORCEINLINE LONG InterlockedIncrement(volatile LONG* Addend) { return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
FORCEINLINE LONG InterlockedDecrement(volatile LONG* Addend) { return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
FORCEINLINE LONGLONG InterlockedIncrement64(volatile LONGLONG* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedExchange(volatile LONG* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedCompareExchange(volatile LONG* Destination, LONG Exchange, LONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comparand;
}
FORCEINLINE PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

#define KeMemoryBarrier() __atomic_thread_fence(__ATOMIC_SEQ_CST)
#define MemoryBarrier() __atomic_thread_fence(__ATOMIC_SEQ_CST)
