// What the driver has mapped into a process and allocated for it, kept per
// open handle (the file object's FsContext). Unlock and free accept only
// records issued through the same handle; when the handle is cleaned up
// (closed by the process, or the process died) everything still issued is
// unmapped and freed, so nothing outlives its process.
#pragma once

#include <ntddk.h>

struct IssuedMapping {
    LIST_ENTRY Link;
    ULONG64 UserAddress;
    PMDL Mdl;              // the MappingHandle given to the caller
    PVOID BlockAddress;    // dynamic block owned with the mapping; null for a window
};

class IssuedMappings {
public:
    static IssuedMappings* create();
    static void destroy(IssuedMappings* mappings);

    // Takes ownership of the entry (allocated with allocateEntry).
    void add(IssuedMapping* entry);
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

inline IssuedMappings* issuedMappings(PFILE_OBJECT file) {
    return file != nullptr ? static_cast<IssuedMappings*>(file->FsContext) : nullptr;
}
