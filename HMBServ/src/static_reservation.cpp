#include "static_reservation.h"

namespace {

// ExAllocatePool tags its blocks 'None'.
constexpr ULONG kPoolTag = 'enoN';
constexpr WCHAR kParametersSuffix[] = L"\\Parameters";  // with its terminator
// Sizes are 32-bit byte counts, so the page count must stay below 2^20.
constexpr ULONG kPageLimit = 1u << 20;

// The absolute path of the Parameters key, in paged pool; null on failure.
PWSTR parametersPath(PCUNICODE_STRING serviceKeyPath) {
    const SIZE_T bytes = serviceKeyPath->Length + sizeof kParametersSuffix;
    auto* path = static_cast<PWSTR>(ExAllocatePool(PagedPool, bytes));
    if (path == nullptr) {
        return nullptr;
    }
    RtlCopyMemory(path, serviceKeyPath->Buffer, serviceKeyPath->Length);
    RtlCopyMemory(reinterpret_cast<PUCHAR>(path) + serviceKeyPath->Length, kParametersSuffix,
                  sizeof kParametersSuffix);
    return path;
}

// A missing key or value, or any failure of the query, reads as 0.
ULONG requiredPages(PCWSTR path) {
    ULONG pages = 0;
    ULONG defaultPages = 0;
    RTL_QUERY_REGISTRY_TABLE query[2];
    RtlZeroMemory(query, sizeof query);
    query[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    query[0].Name = const_cast<PWSTR>(L"RequiredMemorySize");
    query[0].EntryContext = &pages;
    query[0].DefaultType = REG_DWORD;
    query[0].DefaultData = &defaultPages;
    query[0].DefaultLength = sizeof defaultPages;
    if (!NT_SUCCESS(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, query, nullptr,
                                           nullptr))) {
        return 0;
    }
    return pages;
}

}  // namespace

void reserveStaticMemory(StaticMemState* state, PCUNICODE_STRING serviceKeyPath) {
    state->KernelAddress = nullptr;
    state->PhysicalAddress = 0;
    state->Size = 0;

    PWSTR path = parametersPath(serviceKeyPath);
    if (path == nullptr) {
        return;  // nothing reserved, ReturnValue left as it was
    }
    ULONG returnValue = 1;
    const ULONG pages = requiredPages(path);
    if (pages >= kPageLimit) {
        // The byte count would wrap around 32 bits: refuse rather than
        // reserve a size nobody asked for.
        DbgPrint("HMBServ: RequiredMemorySize %u pages is too large\n", pages);
        returnValue = 0;
    } else if (pages != 0) {
        const ULONG bytes = pages * PAGE_SIZE;
        PHYSICAL_ADDRESS highest;
        highest.QuadPart = kHighestAcceptableAddress;
        PVOID block = MmAllocateContiguousMemory(bytes, highest);
        if (block != nullptr) {
            state->KernelAddress = block;
            state->PhysicalAddress = MmGetPhysicalAddress(block).LowPart;
            state->Size = bytes;
        } else {
            DbgPrint("HMBServ: cannot reserve %u bytes of static memory\n", bytes);
            returnValue = 0;
        }
    }
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, L"ReturnValue", REG_DWORD,
                          &returnValue, sizeof returnValue);
    ExFreePoolWithTag(path, kPoolTag);
}

void releaseStaticMemory(StaticMemState* state) {
    if (state->KernelAddress != nullptr) {
        MmFreeContiguousMemory(state->KernelAddress);
    }
}
