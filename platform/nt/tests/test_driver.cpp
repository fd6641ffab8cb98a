// A small PnP driver for the test PCI function, written the way the stack's
// drivers are: add-device, start with resources, a start-I/O queue, pending
// requests with cancel routines, an interrupt with its DPC, contiguous
// memory mapped into the caller. Built only for the kernel's tests.
//
// Loaded under a service whose name ends in "Legacy" it is instead a
// non-PnP driver with one named control device.
#include <ntddk.h>

#include "test_device_protocol.h"

using namespace nttest;

namespace {

// {5B3C1E40-8F2A-4C61-9D7E-1A2B3C4D5E6F}
const GUID kTestInterface = {0x5B3C1E40, 0x8F2A, 0x4C61, {0x9D, 0x7E, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};

constexpr int kMaxOrder = 64;
constexpr int kMaxMaps = 8;

struct Mapping {
    PVOID user;
    PVOID kernel;
    PMDL mdl;
};

struct TestExtension {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT lower;
    UNICODE_STRING interfaceName;
    BOOLEAN started;
    BOOLEAN removed;
    volatile LONG openCount;
    volatile PUCHAR registers;
    ULONG registerLength;
    PUCHAR ports;
    PKINTERRUPT interrupt;
    volatile LONG interruptCount;
    volatile LONG dpcCount;
    volatile LONG lastStatus;
    KSPIN_LOCK waitLock;
    LIST_ENTRY waitList;
    ULONG order[kMaxOrder];
    volatile LONG orderCount;
    PIRP held;
    Mapping maps[kMaxMaps];
    SlotRecord slot;
    WCHAR linkBuffer[32];
    UNICODE_STRING linkName;
};

LONG g_instances = 0;

TestExtension* ext(PDEVICE_OBJECT device) { return static_cast<TestExtension*>(device->DeviceExtension); }

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- interrupt and DPC -------------------------------------------------------------
BOOLEAN isr(PKINTERRUPT, PVOID context) {
    auto* e = static_cast<TestExtension*>(context);
    if (!e->registers) return FALSE;
    ULONG status = READ_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(e->registers + kRegIrqStatus));
    if (status == 0) return FALSE;
    WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(e->registers + kRegIrqStatus), status);
    InterlockedExchange(&e->lastStatus, static_cast<LONG>(status));
    InterlockedIncrement(&e->interruptCount);
    IoRequestDpc(e->self, nullptr, e);
    return TRUE;
}

VOID dpc(PKDPC, PDEVICE_OBJECT device, PIRP, PVOID) {
    TestExtension* e = ext(device);
    InterlockedIncrement(&e->dpcCount);
    // Completes the oldest waiter, if any: completion belongs at dispatch level, not in the ISR.
    KeAcquireSpinLockAtDpcLevel(&e->waitLock);
    PIRP irp = nullptr;
    while (!IsListEmpty(&e->waitList)) {
        PIRP candidate = CONTAINING_RECORD(RemoveHeadList(&e->waitList), IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(candidate, nullptr)) {
            irp = candidate;
            break;
        }
        // Its cancel routine runs and will not find it in the list.
        InitializeListHead(&candidate->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLockFromDpcLevel(&e->waitLock);
    if (irp) {
        *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = static_cast<ULONG>(e->interruptCount);
        complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    }
}

VOID cancelWait(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    TestExtension* e = ext(device);
    KIRQL irql;
    KeAcquireSpinLock(&e->waitLock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    InitializeListHead(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&e->waitLock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

// Every waiter leaves with `status` (cleanup: cancelled; surprise removal: gone).
void flushWaiters(TestExtension* e, NTSTATUS status) {
    LIST_ENTRY done;
    InitializeListHead(&done);
    KIRQL irql;
    KeAcquireSpinLock(&e->waitLock, &irql);
    while (!IsListEmpty(&e->waitList)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&e->waitList), IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, nullptr))
            InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
        else
            InitializeListHead(&irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&e->waitLock, irql);
    while (!IsListEmpty(&done)) complete(CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry), status, 0);
}

// ---- start-I/O ------------------------------------------------------------------------
VOID cancelQueued(PDEVICE_OBJECT device, PIRP irp) {
    if (irp == device->CurrentIrp) {
        IoReleaseCancelSpinLock(irp->CancelIrql);  // start-I/O sees Irp->Cancel
        return;
    }
    BOOLEAN removed = KeRemoveEntryDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (removed) complete(irp, STATUS_CANCELLED, 0);
}

void finishStartIo(PDEVICE_OBJECT device, PIRP irp, NTSTATUS status, ULONG_PTR information) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    if (irp->Cancel) status = STATUS_CANCELLED, information = 0;
    complete(irp, status, information);
    IoStartNextPacket(device, TRUE);
}

VOID startIo(PDEVICE_OBJECT device, PIRP irp) {
    TestExtension* e = ext(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code == kIoctlHold) {
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&e->held), irp);  // completed by kIoctlRelease
        return;
    }
    const ULONG tag = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    LONG position = InterlockedIncrement(&e->orderCount) - 1;
    if (position < kMaxOrder) e->order[position] = tag;
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = static_cast<ULONG>(position);
    finishStartIo(device, irp, STATUS_SUCCESS, sizeof(ULONG));
}

// ---- dispatch --------------------------------------------------------------------------------
NTSTATUS dispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    TestExtension* e = ext(device);
    if (e->removed) return complete(irp, STATUS_DELETE_PENDING, 0);
    if (!e->started) return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    InterlockedIncrement(&e->openCount);
    return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS dispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    InterlockedDecrement(&ext(device)->openCount);
    return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS dispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    TestExtension* e = ext(device);
    flushWaiters(e, STATUS_CANCELLED);
    // Queued, not yet started packets of every file are cancelled.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    LIST_ENTRY done;
    InitializeListHead(&done);
    for (;;) {
        KeAcquireSpinLockAtDpcLevel(&device->DeviceQueue.Lock);
        PKDEVICE_QUEUE_ENTRY entry = IsListEmpty(&device->DeviceQueue.DeviceListHead)
                                         ? nullptr
                                         : CONTAINING_RECORD(device->DeviceQueue.DeviceListHead.Flink,
                                                             KDEVICE_QUEUE_ENTRY, DeviceListEntry);
        KeReleaseSpinLockFromDpcLevel(&device->DeviceQueue.Lock);
        if (!entry || !KeRemoveEntryDeviceQueue(&device->DeviceQueue, entry)) break;
        PIRP queued = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
        IoSetCancelRoutine(queued, nullptr);
        InsertTailList(&done, &queued->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&done))
        complete(CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry), STATUS_CANCELLED, 0);
    return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS dispatchRead(PDEVICE_OBJECT, PIRP irp) {
    static const char kGreeting[] = "hello from the test device";
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG n = stack->Parameters.Read.Length;
    if (n > sizeof kGreeting) n = sizeof kGreeting;
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, kGreeting, n);
    return complete(irp, STATUS_SUCCESS, n);
}

NTSTATUS dispatchWrite(PDEVICE_OBJECT, PIRP irp) {
    return complete(irp, STATUS_SUCCESS, IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length / 2);
}

NTSTATUS mapBlock(TestExtension* e, PIRP irp, ULONG inLength, ULONG outLength) {
    if (inLength != 4 || outLength != sizeof(MapRecord)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
    const ULONG size = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    auto* record = static_cast<MapRecord*>(irp->AssociatedIrp.SystemBuffer);
    RtlZeroMemory(record, sizeof *record);
    int slot = 0;
    while (slot < kMaxMaps && e->maps[slot].mdl) ++slot;
    if (slot == kMaxMaps) return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    PHYSICAL_ADDRESS highest;
    highest.QuadPart = 0xFFFFFFFF;
    PVOID block = MmAllocateContiguousMemory(size, highest);
    if (!block) return complete(irp, STATUS_NO_MEMORY, 0);
    for (ULONG i = 0; i < size; ++i) static_cast<PUCHAR>(block)[i] = static_cast<UCHAR>(i * 7 + 3);
    PMDL mdl = IoAllocateMdl(block, size, FALSE, FALSE, nullptr);
    if (!mdl) {
        MmFreeContiguousMemory(block);
        return complete(irp, STATUS_NO_MEMORY, 0);
    }
    MmBuildMdlForNonPagedPool(mdl);
    PVOID user = MmMapLockedPagesSpecifyCache(mdl, UserMode, MmNonCached, nullptr, FALSE, NormalPagePriority);
    if (!user) {
        IoFreeMdl(mdl);
        MmFreeContiguousMemory(block);
        return complete(irp, STATUS_NO_MEMORY, 0);
    }
    e->maps[slot] = Mapping{user, block, mdl};
    record->userAddress = reinterpret_cast<uint64_t>(user);
    record->physical = static_cast<uint64_t>(MmGetPhysicalAddress(block).QuadPart);
    record->kernelAddress = reinterpret_cast<uint64_t>(block);
    return complete(irp, STATUS_SUCCESS, sizeof *record);
}

NTSTATUS unmapBlock(TestExtension* e, PIRP irp, ULONG inLength) {
    if (inLength != sizeof(MapRecord)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
    const auto* record = static_cast<MapRecord*>(irp->AssociatedIrp.SystemBuffer);
    for (Mapping& map : e->maps) {
        if (map.mdl && reinterpret_cast<uint64_t>(map.user) == record->userAddress) {
            MmUnmapLockedPages(map.user, map.mdl);
            IoFreeMdl(map.mdl);
            MmFreeContiguousMemory(map.kernel);
            map = Mapping{};
            return complete(irp, STATUS_SUCCESS, 0);
        }
    }
    return complete(irp, STATUS_INVALID_PARAMETER, 0);
}

NTSTATUS dispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    TestExtension* e = ext(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    if (e->removed) return complete(irp, STATUS_DELETE_PENDING, 0);
    auto* words = static_cast<ULONG*>(buffer);
    switch (code) {
    case kIoctlEcho: {
        if (out < in) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        for (ULONG i = 0; i < in; ++i) static_cast<PUCHAR>(buffer)[i] ^= 0x5A;
        return complete(irp, STATUS_SUCCESS, in);
    }
    case kIoctlRegRead:
        if (in != 4 || out != 4 || !e->registers || words[0] + 4 > e->registerLength)
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        words[0] = READ_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(e->registers + words[0]));
        return complete(irp, STATUS_SUCCESS, 4);
    case kIoctlRegWrite:
        if (in != 8 || !e->registers || words[0] + 4 > e->registerLength)
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(e->registers + words[0]), words[1]);
        return complete(irp, STATUS_SUCCESS, 0);
    case kIoctlPort:
        if (in != 4 || out != 4 || !e->ports) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        WRITE_PORT_UCHAR(e->ports, static_cast<UCHAR>(words[0]));
        words[0] = READ_PORT_UCHAR(e->ports);
        return complete(irp, STATUS_SUCCESS, 4);
    case kIoctlWait: {
        if (out != 4) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        KIRQL irql;
        KeAcquireSpinLock(&e->waitLock, &irql);
        IoSetCancelRoutine(irp, cancelWait);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
            KeReleaseSpinLock(&e->waitLock, irql);
            return complete(irp, STATUS_CANCELLED, 0);
        }
        IoMarkIrpPending(irp);
        InsertTailList(&e->waitList, &irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&e->waitLock, irql);
        return STATUS_PENDING;
    }
    case kIoctlQueued:
        if (in != 4 || out != 4) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        [[fallthrough]];
    case kIoctlHold:
        IoMarkIrpPending(irp);
        IoStartPacket(device, irp, nullptr, cancelQueued);
        return STATUS_PENDING;
    case kIoctlRelease: {
        PIRP held = static_cast<PIRP>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&e->held), nullptr));
        if (!held) return complete(irp, STATUS_INVALID_DEVICE_STATE, 0);
        KIRQL irql = KeRaiseIrqlToDpcLevel();
        finishStartIo(device, held, STATUS_SUCCESS, 0);
        KeLowerIrql(irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case kIoctlOrder: {
        const LONG count = e->orderCount < kMaxOrder ? e->orderCount : kMaxOrder;
        const ULONG needed = (static_cast<ULONG>(count) + 1) * 4;
        if (out < needed) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        words[0] = static_cast<ULONG>(count);
        for (LONG i = 0; i < count; ++i) words[i + 1] = e->order[i];
        return complete(irp, STATUS_SUCCESS, needed);
    }
    case kIoctlMap: return mapBlock(e, irp, in, out);
    case kIoctlUnmap: return unmapBlock(e, irp, in);
    case kIoctlCounts: {
        if (out != sizeof(Counts)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        auto* counts = static_cast<Counts*>(buffer);
        counts->interrupts = static_cast<uint32_t>(e->interruptCount);
        counts->dpcs = static_cast<uint32_t>(e->dpcCount);
        counts->opens = static_cast<uint32_t>(e->openCount);
        counts->lastStatus = static_cast<uint32_t>(e->lastStatus);
        counts->waiting = counts->queued = 0;
        // Set by the start-I/O routine on another thread: read it as atomically as it is written.
        counts->holding = __atomic_load_n(&e->held, __ATOMIC_SEQ_CST) != nullptr ? 1 : 0;
        KIRQL irql;
        KeAcquireSpinLock(&e->waitLock, &irql);
        for (PLIST_ENTRY p = e->waitList.Flink; p != &e->waitList; p = p->Flink) ++counts->waiting;
        KeReleaseSpinLock(&e->waitLock, irql);
        KeAcquireSpinLock(&device->DeviceQueue.Lock, &irql);
        PLIST_ENTRY head = &device->DeviceQueue.DeviceListHead;
        for (PLIST_ENTRY p = head->Flink; p != head; p = p->Flink) ++counts->queued;
        KeReleaseSpinLock(&device->DeviceQueue.Lock, irql);
        return complete(irp, STATUS_SUCCESS, sizeof(Counts));
    }
    case kIoctlPhysical: {
        if (in != 8 || out != 8) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        auto* address = static_cast<uint64_t*>(buffer);
        PVOID va = reinterpret_cast<PVOID>(*address);
        *address = MmIsAddressValid(va) ? static_cast<uint64_t>(MmGetPhysicalAddress(va).QuadPart) : 0;
        return complete(irp, STATUS_SUCCESS, 8);
    }
    case kIoctlPciConfig: {
        if (in != 8 || out > 64) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        UCHAR header[64];
        ULONG got = HalGetBusDataByOffset(PCIConfiguration, words[0], words[1], header, 0, out);
        RtlCopyMemory(buffer, header, got);
        return complete(irp, STATUS_SUCCESS, got);
    }
    case kIoctlSlot: {
        if (out != sizeof(SlotRecord)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        ULONG bus = 0, length = 0;
        NTSTATUS status = IoGetDeviceProperty(e->pdo, DevicePropertyBusNumber, sizeof bus, &bus, &length);
        if (!NT_SUCCESS(status)) return complete(irp, status, 0);
        e->slot.bus = bus;
        RtlCopyMemory(buffer, &e->slot, sizeof e->slot);
        return complete(irp, STATUS_SUCCESS, sizeof e->slot);
    }
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

// ---- PnP and power -------------------------------------------------------------------------
NTSTATUS signalOnCompletion(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forwardAndWait(TestExtension* e, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signalOnCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(e->lower, irp) == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS passDown(TestExtension* e, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(e->lower, irp);
}

NTSTATUS startHardware(TestExtension* e, PCM_RESOURCE_LIST resources) {
    if (e->started) return STATUS_SUCCESS;
    if (!resources || resources->Count == 0) return STATUS_DEVICE_CONFIGURATION_ERROR;
    PCM_PARTIAL_RESOURCE_LIST list = &resources->List[0].PartialResourceList;
    ULONG vector = 0;
    KIRQL level = 0;
    BOOLEAN hasInterrupt = FALSE;
    for (ULONG i = 0; i < list->Count; ++i) {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR d = &list->PartialDescriptors[i];
        switch (d->Type) {
        case CmResourceTypeMemory:
            e->registers = static_cast<PUCHAR>(MmMapIoSpace(d->u.Memory.Start, d->u.Memory.Length, MmNonCached));
            if (!e->registers) return STATUS_NO_MEMORY;
            e->registerLength = d->u.Memory.Length;
            break;
        case CmResourceTypePort:
            e->ports = reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(d->u.Port.Start.QuadPart));
            break;
        case CmResourceTypeInterrupt:
            vector = d->u.Interrupt.Vector;
            level = static_cast<KIRQL>(d->u.Interrupt.Level);
            hasInterrupt = TRUE;
            break;
        default: break;
        }
    }
    if (hasInterrupt) {
        NTSTATUS status = IoConnectInterrupt(&e->interrupt, isr, e, nullptr, vector, level, level, LevelSensitive,
                                             TRUE, 1, FALSE);
        if (!NT_SUCCESS(status)) return status;
    }
    e->started = TRUE;
    return STATUS_SUCCESS;
}

void stopHardware(TestExtension* e) {
    if (!e->started) return;
    e->started = FALSE;
    if (e->interrupt) IoDisconnectInterrupt(e->interrupt);
    e->interrupt = nullptr;
    KeFlushQueuedDpcs();
    if (e->registers) MmUnmapIoSpace(e->registers, e->registerLength);
    e->registers = nullptr;
}

NTSTATUS dispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    TestExtension* e = ext(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        PCM_RESOURCE_LIST translated = stack->Parameters.StartDevice.AllocatedResourcesTranslated;
        NTSTATUS status = forwardAndWait(e, irp);
        if (NT_SUCCESS(status)) status = startHardware(e, translated);
        if (NT_SUCCESS(status)) IoSetDeviceInterfaceState(&e->interfaceName, TRUE);
        return complete(irp, status, 0);
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        NTSTATUS status = forwardAndWait(e, irp);
        if (NT_SUCCESS(status)) {
            PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
            e->slot.device = static_cast<uint16_t>(caps->Address >> 16);
            e->slot.function = static_cast<uint16_t>(caps->Address & 0xFFFF);
            e->slot.uiNumber = caps->UINumber;
        }
        return complete(irp, status, 0);
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
        if (e->openCount > 0) return complete(irp, STATUS_UNSUCCESSFUL, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(e, irp);
    case IRP_MN_QUERY_STOP_DEVICE: {
        // Refused while a wait request depends on the interrupt.
        KIRQL irql;
        KeAcquireSpinLock(&e->waitLock, &irql);
        const bool busy = !IsListEmpty(&e->waitList);
        KeReleaseSpinLock(&e->waitLock, irql);
        if (busy) return complete(irp, STATUS_DEVICE_BUSY, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(e, irp);
    }
    case IRP_MN_STOP_DEVICE:
        stopHardware(e);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(e, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        e->removed = TRUE;
        flushWaiters(e, STATUS_DELETE_PENDING);
        IoSetDeviceInterfaceState(&e->interfaceName, FALSE);
        stopHardware(e);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(e, irp);
    case IRP_MN_REMOVE_DEVICE: {
        e->removed = TRUE;
        flushWaiters(e, STATUS_DELETE_PENDING);
        stopHardware(e);
        IoSetDeviceInterfaceState(&e->interfaceName, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = passDown(e, irp);
        RtlFreeUnicodeString(&e->interfaceName);
        IoDeleteSymbolicLink(&e->linkName);
        IoDetachDevice(e->lower);
        IoDeleteDevice(device);
        return status;
    }
    default: return passDown(e, irp);
    }
}

NTSTATUS dispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext(device)->lower, irp);
}

NTSTATUS dispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) { return passDown(ext(device), irp); }

NTSTATUS addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    const LONG number = InterlockedIncrement(&g_instances) - 1;
    WCHAR nameBuffer[32];
    UNICODE_STRING name{0, sizeof nameBuffer, nameBuffer};
    RtlAppendUnicodeToString(&name, L"\\Device\\NtTest");
    WCHAR digits[12];
    UNICODE_STRING number_text{0, sizeof digits, digits};
    RtlIntegerToUnicodeString(static_cast<ULONG>(number), 10, &number_text);
    RtlAppendUnicodeStringToString(&name, &number_text);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TestExtension), &name, 0x8000, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    TestExtension* e = ext(device);
    e->self = device;
    e->pdo = pdo;
    KeInitializeSpinLock(&e->waitLock);
    InitializeListHead(&e->waitList);
    IoInitializeDpcRequest(device, dpc);
    e->linkName = UNICODE_STRING{0, sizeof e->linkBuffer, e->linkBuffer};
    RtlAppendUnicodeToString(&e->linkName, L"\\DosDevices\\NtTest");
    RtlAppendUnicodeStringToString(&e->linkName, &number_text);
    status = IoCreateSymbolicLink(&e->linkName, &name);
    if (NT_SUCCESS(status)) status = IoRegisterDeviceInterface(pdo, &kTestInterface, nullptr, &e->interfaceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&e->linkName);
        IoDeleteDevice(device);
        return status;
    }
    e->lower = IoAttachDeviceToDeviceStack(device, pdo);
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

VOID unload(PDRIVER_OBJECT) { DbgPrint("NtTest: unloaded after %d devices\n", g_instances); }

// ---- the non-PnP flavour ------------------------------------------------------------------------
NTSTATUS legacyCreateClose(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS, 0); }

NTSTATUS legacyControl(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode != kIoctlEcho) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    for (ULONG i = 0; i < in; ++i) static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer)[i] ^= 0x5A;
    return complete(irp, STATUS_SUCCESS, in);
}

VOID legacyUnload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtLegacy");
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

bool endsWith(PUNICODE_STRING text, PCWSTR suffix) {
    UNICODE_STRING tail;
    RtlInitUnicodeString(&tail, suffix);
    if (text->Length < tail.Length) return false;
    UNICODE_STRING end{tail.Length, tail.Length,
                       text->Buffer + (text->Length - tail.Length) / sizeof(WCHAR)};
    return RtlEqualUnicodeString(&end, &tail, TRUE);
}

// Reads Parameters\Greeting (default 0) and writes Parameters\Loaded = Greeting + 1.
void recordLoad(PUNICODE_STRING registryPath) {
    WCHAR path[256];
    UNICODE_STRING parameters{0, sizeof path, path};
    RtlCopyUnicodeString(&parameters, registryPath);
    RtlAppendUnicodeToString(&parameters, L"\\Parameters");
    ULONG greeting = 0, defaultGreeting = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = const_cast<PWSTR>(L"Greeting");
    table[0].EntryContext = &greeting;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &defaultGreeting;
    table[0].DefaultLength = sizeof defaultGreeting;
    RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, table, nullptr, nullptr);
    ULONG loaded = greeting + 1;
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, path, L"Loaded", REG_DWORD, &loaded, sizeof loaded);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    recordLoad(RegistryPath);
    if (endsWith(RegistryPath, L"Legacy")) {
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, L"\\Device\\NtLegacy");
        RtlInitUnicodeString(&link, L"\\DosDevices\\NtLegacy");
        PDEVICE_OBJECT device = nullptr;
        NTSTATUS status = IoCreateDevice(DriverObject, 0, &name, FILE_DEVICE_UNKNOWN, 0, TRUE, &device);
        if (!NT_SUCCESS(status)) return status;
        status = IoCreateSymbolicLink(&link, &name);
        if (!NT_SUCCESS(status)) {
            IoDeleteDevice(device);
            return status;
        }
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        DriverObject->MajorFunction[IRP_MJ_CREATE] = legacyCreateClose;
        DriverObject->MajorFunction[IRP_MJ_CLOSE] = legacyCreateClose;
        DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = legacyControl;
        DriverObject->DriverUnload = legacyUnload;
        return STATUS_SUCCESS;
    }
    DriverObject->DriverExtension->AddDevice = addDevice;
    DriverObject->DriverStartIo = startIo;
    DriverObject->DriverUnload = unload;
    DriverObject->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
    DriverObject->MajorFunction[IRP_MJ_CLEANUP] = dispatchCleanup;
    DriverObject->MajorFunction[IRP_MJ_READ] = dispatchRead;
    DriverObject->MajorFunction[IRP_MJ_WRITE] = dispatchWrite;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
    DriverObject->MajorFunction[IRP_MJ_PNP] = dispatchPnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = dispatchPower;
    DriverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = dispatchSystemControl;
    return STATUS_SUCCESS;
}
