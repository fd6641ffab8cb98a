#include "process_table.h"

namespace {

constexpr ULONG kPoolTag = 'PbmH';

}  // namespace

// One process that opened the device. The table holds one reference, each
// request in flight another; the last one releases what is still issued.
struct ProcessEntry {
    LIST_ENTRY Link;
    HANDLE ProcessId;
    LONG References;
    IssuedMappings* Issued;
};

namespace {

LIST_ENTRY g_processes;
KSPIN_LOCK g_lock;
bool g_initialized = false;

class TableLock {
public:
    TableLock() { KeAcquireSpinLock(&g_lock, &previous_); }
    ~TableLock() { KeReleaseSpinLock(&g_lock, previous_); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    KIRQL previous_;
};

// Under the table lock.
ProcessEntry* findLocked(HANDLE processId) {
    for (PLIST_ENTRY link = g_processes.Flink; link != &g_processes; link = link->Flink) {
        ProcessEntry* entry = CONTAINING_RECORD(link, ProcessEntry, Link);
        if (entry->ProcessId == processId) {
            return entry;
        }
    }
    return nullptr;
}

void dropReference(ProcessEntry* entry) {
    if (InterlockedDecrement(&entry->References) == 0) {
        // In the context of the process (its exit, or its own last request),
        // so its windows can still be unmapped.
        IssuedMappings::destroy(entry->Issued);
        ExFreePoolWithTag(entry, kPoolTag);
    }
}

VOID processExited(HANDLE, HANDLE processId, BOOLEAN create) {
    if (create) {
        return;
    }
    ProcessEntry* entry = nullptr;
    {
        TableLock hold;
        entry = findLocked(processId);
        if (entry != nullptr) {
            RemoveEntryList(&entry->Link);
        }
    }
    if (entry != nullptr) {
        dropReference(entry);
    }
}

}  // namespace

ProcessMappingsRef::~ProcessMappingsRef() {
    if (entry_ != nullptr) {
        dropReference(entry_);
    }
}

IssuedMappings* ProcessMappingsRef::get() const { return entry_ != nullptr ? entry_->Issued : nullptr; }

namespace process_table {

NTSTATUS initialize() {
    InitializeListHead(&g_processes);
    KeInitializeSpinLock(&g_lock);
    const NTSTATUS status = PsSetCreateProcessNotifyRoutine(processExited, FALSE);
    g_initialized = NT_SUCCESS(status);
    return status;
}

void shutdown() {
    if (!g_initialized) {
        return;
    }
    PsSetCreateProcessNotifyRoutine(processExited, TRUE);
    for (;;) {
        ProcessEntry* entry = nullptr;
        {
            TableLock hold;
            if (IsListEmpty(&g_processes)) {
                break;
            }
            entry = CONTAINING_RECORD(RemoveHeadList(&g_processes), ProcessEntry, Link);
        }
        dropReference(entry);
    }
    g_initialized = false;
}

NTSTATUS attachCaller() {
    const HANDLE processId = PsGetCurrentProcessId();
    {
        TableLock hold;
        if (findLocked(processId) != nullptr) {
            return STATUS_SUCCESS;
        }
    }
    auto* entry = static_cast<ProcessEntry*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(ProcessEntry), kPoolTag));
    IssuedMappings* issued = entry != nullptr ? IssuedMappings::create() : nullptr;
    if (issued == nullptr) {
        if (entry != nullptr) {
            ExFreePoolWithTag(entry, kPoolTag);
        }
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    entry->ProcessId = processId;
    entry->References = 1;
    entry->Issued = issued;
    bool raced = false;
    {
        TableLock hold;
        raced = findLocked(processId) != nullptr;  // another thread of the process opened meanwhile
        if (!raced) {
            InsertTailList(&g_processes, &entry->Link);
        }
    }
    if (raced) {
        IssuedMappings::destroy(issued);
        ExFreePoolWithTag(entry, kPoolTag);
    }
    return STATUS_SUCCESS;
}

ProcessMappingsRef caller() {
    const HANDLE processId = PsGetCurrentProcessId();
    TableLock hold;
    ProcessEntry* entry = findLocked(processId);
    if (entry != nullptr) {
        InterlockedIncrement(&entry->References);
    }
    return ProcessMappingsRef(entry);
}

}  // namespace process_table
