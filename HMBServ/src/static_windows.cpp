// Windows of the static memory mapped into the calling process, the fill and
// the base address.
#include "control_requests.h"
#include "lx/static_mem_records.h"

namespace {

// Offset = Length = 0xFFFFFFFF names the whole static memory.
void resolveWholeMemory(const StaticMemState* state, ULONG* offset, ULONG* length) {
    if (*offset == LX_STATIC_MEM_WHOLE && *length == LX_STATIC_MEM_WHOLE) {
        *offset = 0;
        *length = state->Size;
    }
}

// A window of reserved static memory; the sum is 64-bit so that no window
// wraps around.
bool insideStaticMemory(const StaticMemState* state, ULONG offset, ULONG length) {
    return state->Size != 0 && static_cast<ULONG64>(offset) + length <= state->Size;
}

// Maps the window into the caller, non-cached; null when it cannot.
PMDL mapWindow(PVOID windowAddress, ULONG length, PVOID* userAddress) {
    PMDL mdl = IoAllocateMdl(windowAddress, length, FALSE, FALSE, nullptr);
    if (mdl == nullptr) {
        return nullptr;
    }
    MmBuildMdlForNonPagedPool(mdl);
    *userAddress = MmMapLockedPagesSpecifyCache(mdl, UserMode, MmNonCached, nullptr, FALSE, NormalPagePriority);
    if (*userAddress == nullptr) {
        IoFreeMdl(mdl);
        return nullptr;
    }
    return mdl;
}

}  // namespace

ControlResult lockStaticWindow(const ControlRequest& request) {
    auto* block = static_cast<StaticMemBlock*>(request.buffer);
    ULONG offset = block->Offset;
    ULONG length = block->Length;
    resolveWholeMemory(request.state, &offset, &length);
    RtlZeroMemory(block, sizeof *block);
    const ControlResult done{STATUS_SUCCESS, sizeof *block};
    if (!insideStaticMemory(request.state, offset, length)) {
        return done;
    }
    PVOID window = static_cast<PUCHAR>(request.state->KernelAddress) + offset;
    block->PhysicalAddress = request.state->PhysicalAddress + offset;
    block->KernelAddress = reinterpret_cast<ULONG64>(window);
    if (length == 0) {
        return done;
    }
    // A window that cannot be mapped is a failure, not a success with no address.
    const ControlResult unmapped{STATUS_INSUFFICIENT_RESOURCES, 0};
    IssuedMapping* entry = IssuedMappings::allocateEntry();
    if (entry == nullptr) {
        return unmapped;
    }
    PVOID userAddress = nullptr;
    PMDL mdl = mapWindow(window, length, &userAddress);
    if (mdl == nullptr) {
        ExFreePool(entry);
        return unmapped;
    }
    entry->UserAddress = reinterpret_cast<ULONG64>(userAddress);
    entry->Token = IssuedMappings::newToken();
    entry->Mdl = mdl;
    request.issued->add(entry);
    block->Offset = offset;
    block->Length = length;
    block->UserAddress = entry->UserAddress;
    block->MappingHandle = entry->Token;
    return done;
}

ControlResult unlockStaticWindow(const ControlRequest& request) {
    const auto* block = static_cast<const StaticMemBlock*>(request.buffer);
    if (block->UserAddress == 0 || block->MappingHandle == 0) {
        return {STATUS_SUCCESS, 0};  // nothing was mapped
    }
    // Only a window that this process was given: a forged or foreign record
    // must not unmap or free anything.
    IssuedMapping* entry = request.issued->take(block->UserAddress, block->MappingHandle, nullptr);
    if (entry == nullptr) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    IssuedMappings::release(entry);
    return {STATUS_SUCCESS, 0};
}

ControlResult fillStaticMemory(const ControlRequest& request) {
    const auto* fill = static_cast<const StaticFillRequest*>(request.buffer);
    ULONG offset = fill->Offset;
    ULONG length = fill->Length;
    resolveWholeMemory(request.state, &offset, &length);
    if (static_cast<ULONG64>(offset) + length > request.state->Size) {
        return {STATUS_INVALID_PARAMETER, 0};  // nothing written
    }
    if (length == 0) {
        return {STATUS_SUCCESS, 0};
    }
    RtlFillMemory(static_cast<PUCHAR>(request.state->KernelAddress) + offset, length, fill->Value);
    return {STATUS_SUCCESS, 0};
}

ControlResult reportStaticBase(const ControlRequest& request) {
    const ULONG base = request.state->PhysicalAddress;
    RtlCopyMemory(request.buffer, &base, sizeof base);
    return {STATUS_SUCCESS, sizeof base};
}
