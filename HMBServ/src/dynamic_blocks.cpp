// Dynamic contiguous blocks, allocated on demand and mapped into the caller.
#include "control_requests.h"
#include "lx/static_mem_records.h"

ControlResult allocateDynamicBlock(const ControlRequest& request) {
    ULONG size = 0;
    RtlCopyMemory(&size, request.buffer, sizeof size);
    auto* block = static_cast<DynamicMemBlock*>(request.buffer);
    RtlZeroMemory(block, sizeof *block);
    const ControlResult done{STATUS_SUCCESS, sizeof *block};

    PHYSICAL_ADDRESS highest;
    highest.QuadPart = kHighestAcceptableAddress;
    PVOID memory = MmAllocateContiguousMemory(size, highest);
    if (memory == nullptr) {
        return done;  // all zero: no memory
    }
    IssuedMapping* entry = IssuedMappings::allocateEntry();
    PMDL mdl = entry != nullptr ? IoAllocateMdl(memory, size, FALSE, FALSE, nullptr) : nullptr;
    PVOID userAddress = nullptr;
    if (mdl != nullptr) {
        MmBuildMdlForNonPagedPool(mdl);
        userAddress = MmMapLockedPages(mdl, UserMode);
    }
    if (userAddress == nullptr) {
        if (mdl != nullptr) IoFreeMdl(mdl);
        if (entry != nullptr) ExFreePool(entry);
        MmFreeContiguousMemory(memory);
        return done;
    }
    entry->UserAddress = reinterpret_cast<ULONG64>(userAddress);
    entry->Token = IssuedMappings::newToken();
    entry->Mdl = mdl;
    entry->BlockAddress = memory;
    request.issued->add(entry);

    block->UserAddress = entry->UserAddress;
    block->KernelAddress = reinterpret_cast<ULONG64>(memory);
    block->PhysicalAddress = MmGetPhysicalAddress(memory).LowPart;
    block->Size = size;
    block->MappingHandle = entry->Token;
    return done;
}

ControlResult freeDynamicBlock(const ControlRequest& request) {
    const auto* block = static_cast<const DynamicMemBlock*>(request.buffer);
    if (block->UserAddress == 0 && block->MappingHandle == 0 && block->KernelAddress == 0) {
        return {STATUS_SUCCESS, 0};  // an allocation that brought back nothing
    }
    // Only a block this process was given, exactly as it was given: anything
    // else frees nothing.
    IssuedMapping* entry = request.issued->take(block->UserAddress, block->MappingHandle,
                                                reinterpret_cast<PVOID>(block->KernelAddress));
    if (entry == nullptr || entry->BlockAddress == nullptr) {
        if (entry != nullptr) request.issued->add(entry);
        return {STATUS_INVALID_PARAMETER, 0};
    }
    IssuedMappings::release(entry);
    return {STATUS_SUCCESS, 0};
}
