// What the driver has mapped into one process and allocated for it. Unlock
// and free accept only records issued to the same process; what is still
// issued when the process ends is unmapped and freed (process_table.h).
#pragma once

#include <ntddk.h>

struct IssuedMapping {
    LIST_ENTRY Link;
    ULONG64 UserAddress;
    ULONG64 Token;         // the MappingHandle given to the caller
    PMDL Mdl;
    PVOID BlockAddress;    // dynamic block owned with the mapping; null for a window
};

class IssuedMappings {
public:
    static IssuedMappings* create();
    static void destroy(IssuedMappings* mappings);

    // Takes ownership of the entry (allocated with allocateEntry).
    void add(IssuedMapping* entry);
    // A mapping handle for a new entry: an opaque number of this driver,
    // never 0 and never reused, so no driver address reaches a caller.
    static ULONG64 newToken();
    // Removes and returns the entry that matches the record exactly, or null.
    IssuedMapping* take(ULONG64 userAddress, ULONG64 mappingHandle, PVOID blockAddress);
    // Removes and returns any entry; null when none is left.
    IssuedMapping* takeAny();

    static IssuedMapping* allocateEntry();
    // Unmaps the entry from the calling process, frees its description and
    // its block, and the entry itself.
    static void release(IssuedMapping* entry);

private:
    LIST_ENTRY entries_;
    KSPIN_LOCK lock_;
};
