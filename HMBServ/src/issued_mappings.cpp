#include "issued_mappings.h"

namespace {

constexpr ULONG kPoolTag = 'MbmH';

// Holds the list's spin lock for one scope.
class ListLock {
public:
    explicit ListLock(PKSPIN_LOCK lock) : lock_(lock) { KeAcquireSpinLock(lock_, &previous_); }
    ~ListLock() { KeReleaseSpinLock(lock_, previous_); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    PKSPIN_LOCK lock_;
    KIRQL previous_;
};

}  // namespace

IssuedMappings* IssuedMappings::create() {
    auto* mappings = static_cast<IssuedMappings*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(IssuedMappings), kPoolTag));
    if (mappings == nullptr) {
        return nullptr;
    }
    InitializeListHead(&mappings->entries_);
    KeInitializeSpinLock(&mappings->lock_);
    return mappings;
}

void IssuedMappings::destroy(IssuedMappings* mappings) {
    if (mappings == nullptr) {
        return;
    }
    while (IssuedMapping* entry = mappings->takeAny()) {
        release(entry);
    }
    ExFreePoolWithTag(mappings, kPoolTag);
}

IssuedMapping* IssuedMappings::allocateEntry() {
    auto* entry = static_cast<IssuedMapping*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(IssuedMapping), kPoolTag));
    if (entry != nullptr) {
        RtlZeroMemory(entry, sizeof *entry);
    }
    return entry;
}

ULONG64 IssuedMappings::newToken() {
    static volatile LONGLONG lastToken = 0;
    return static_cast<ULONG64>(InterlockedIncrement64(&lastToken));
}

void IssuedMappings::add(IssuedMapping* entry) {
    ListLock hold(&lock_);
    InsertTailList(&entries_, &entry->Link);
}

IssuedMapping* IssuedMappings::take(ULONG64 userAddress, ULONG64 mappingHandle, PVOID blockAddress) {
    ListLock hold(&lock_);
    for (PLIST_ENTRY link = entries_.Flink; link != &entries_; link = link->Flink) {
        IssuedMapping* entry = CONTAINING_RECORD(link, IssuedMapping, Link);
        if (entry->UserAddress == userAddress && entry->Token == mappingHandle &&
            entry->BlockAddress == blockAddress) {
            RemoveEntryList(link);
            return entry;
        }
    }
    return nullptr;
}

IssuedMapping* IssuedMappings::takeAny() {
    ListLock hold(&lock_);
    if (IsListEmpty(&entries_)) {
        return nullptr;
    }
    return CONTAINING_RECORD(RemoveHeadList(&entries_), IssuedMapping, Link);
}

void IssuedMappings::release(IssuedMapping* entry) {
    MmUnmapLockedPages(reinterpret_cast<PVOID>(entry->UserAddress), entry->Mdl);
    IoFreeMdl(entry->Mdl);
    if (entry->BlockAddress != nullptr) {
        MmFreeContiguousMemory(entry->BlockAddress);
    }
    ExFreePoolWithTag(entry, kPoolTag);
}
