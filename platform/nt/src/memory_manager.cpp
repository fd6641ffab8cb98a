// Pool, contiguous memory, MDLs, user mappings and address translation.
#include "memory_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "lxmachine/hw/physical_memory.h"
#include "ntddk.h"
#include "runtime.h"
#include "verifier.h"

namespace nt {

MemoryManager::MemoryManager(lxhw::PhysicalMemory& memory, uint64_t perProcessContiguous)
    : memory_(memory), perProcessContiguous_(perProcessContiguous) {}

void* MemoryManager::allocatePool(size_t bytes) {
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) return nullptr;
    std::lock_guard lock(mutex_);
    pool_[reinterpret_cast<uintptr_t>(block)] = bytes;
    return block;
}

bool MemoryManager::freePool(void* block) {
    {
        std::lock_guard lock(mutex_);
        if (pool_.erase(reinterpret_cast<uintptr_t>(block)) == 0) return false;
    }
    std::free(block);
    return true;
}

bool MemoryManager::isPool(const void* address) const {
    const auto value = reinterpret_cast<uintptr_t>(address);
    std::lock_guard lock(mutex_);
    auto it = pool_.upper_bound(value);
    if (it == pool_.begin()) return false;
    --it;
    return value - it->first < std::max<size_t>(it->second, 1);
}

size_t MemoryManager::poolBlocks() const {
    std::lock_guard lock(mutex_);
    return pool_.size();
}

void* MemoryManager::allocateContiguous(uint64_t bytes, uint64_t highestAcceptable, uint32_t processId) {
    // One process cannot take every contiguous page: its requests' blocks
    // are counted against it (whole pages) until they are freed.
    const uint64_t pages = (bytes + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE;
    std::lock_guard lock(mutex_);
    if (processId != 0 && perProcessContiguous_ != 0 &&
        (pages > perProcessContiguous_ || contiguousOf_[processId] > perProcessContiguous_ - pages)) {
        klog("MmAllocateContiguousMemory: process %u is at its quota of %llu bytes", processId,
             static_cast<unsigned long long>(perProcessContiguous_));
        return nullptr;
    }
    auto physical = memory_.allocateContiguous(bytes, highestAcceptable);
    if (!physical) return nullptr;
    const uint64_t size = memory_.allocator().blockSize(*physical);
    contiguous_[*physical] = ContiguousBlock{*physical, size, processId};
    if (processId != 0) contiguousOf_[processId] += size;
    return memory_.hostAddress(*physical, size);
}

bool MemoryManager::freeContiguous(void* host) {
    auto physical = memory_.physicalAddressOf(host);
    if (!physical) return false;
    {
        std::lock_guard lock(mutex_);
        auto block = contiguous_.find(*physical);
        if (block == contiguous_.end()) return false;
        if (auto held = contiguousOf_.find(block->second.processId); held != contiguousOf_.end()) {
            held->second -= std::min(held->second, block->second.size);
            if (held->second == 0) contiguousOf_.erase(held);
        }
        contiguous_.erase(block);
    }
    return memory_.freeContiguous(*physical);
}

std::vector<MemoryManager::ContiguousBlock> MemoryManager::contiguousBlocks() const {
    std::lock_guard lock(mutex_);
    std::vector<ContiguousBlock> blocks;
    for (const auto& [physical, block] : contiguous_) blocks.push_back(block);
    return blocks;
}

void MemoryManager::addUserView(const UserView& view) {
    std::lock_guard lock(mutex_);
    views_.push_back(view);
}

std::optional<MemoryManager::UserView> MemoryManager::takeUserView(uint32_t processId, uint64_t userAddress) {
    std::lock_guard lock(mutex_);
    for (auto it = views_.begin(); it != views_.end(); ++it) {
        if (it->processId == processId && it->userAddress == userAddress) {
            UserView view = *it;
            views_.erase(it);
            return view;
        }
    }
    return std::nullopt;
}

std::vector<MemoryManager::UserView> MemoryManager::userViews() const {
    std::lock_guard lock(mutex_);
    return views_;
}

void MemoryManager::forgetProcess(uint32_t processId) {
    std::lock_guard lock(mutex_);
    views_.erase(std::remove_if(views_.begin(), views_.end(),
                                [&](const UserView& v) { return v.processId == processId; }),
                 views_.end());
}

}  // namespace nt

using namespace nt;

namespace {

MemoryManager* memoryManager() {
    Runtime* rt = runtime();
    return rt ? rt->memory : nullptr;
}

PFN_NUMBER* pfnArray(PMDL mdl) { return MmGetMdlPfnArray(mdl); }
ULONG pageCount(PMDL mdl) { return ADDRESS_AND_SIZE_TO_SPAN_PAGES(MmGetMdlVirtualAddress(mdl), mdl->ByteCount); }
constexpr PFN_NUMBER kNoPage = ~PFN_NUMBER{0};

// The physical start of an MDL whose pages are consecutive machine memory.
bool contiguousPhysical(PMDL mdl, uint64_t* physical) {
    const ULONG pages = pageCount(mdl);
    PFN_NUMBER* pfns = pfnArray(mdl);
    if (pages == 0 || pfns[0] == kNoPage) return false;
    for (ULONG i = 1; i < pages; ++i) {
        if (pfns[i] != pfns[0] + i) return false;
    }
    *physical = uint64_t{pfns[0]} << PAGE_SHIFT;
    return true;
}

// Pool for the code at `caller`; the verifier counts a driver's own blocks.
PVOID allocatePoolFor(SIZE_T bytes, const void* caller) {
    MemoryManager* mm = memoryManager();
    PVOID block = mm ? mm->allocatePool(bytes) : nullptr;
    verifier::allocated(verifier::Resource::Pool, block, bytes, caller);
    return block;
}

}  // namespace

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T NumberOfBytes, ULONG) {
    return allocatePoolFor(NumberOfBytes, __builtin_return_address(0));
}

PVOID ExAllocatePool(POOL_TYPE, SIZE_T NumberOfBytes) {
    return allocatePoolFor(NumberOfBytes, __builtin_return_address(0));
}

VOID ExFreePool(PVOID P) {
    MemoryManager* mm = memoryManager();
    if (!P) return;
    verifier::freed(verifier::Resource::Pool, P);
    if (!mm || !mm->freePool(P)) klog("ExFreePool: %p is not a pool block", P);
}

VOID ExFreePoolWithTag(PVOID P, ULONG) { ExFreePool(P); }

PVOID MmAllocateContiguousMemory(SIZE_T NumberOfBytes, PHYSICAL_ADDRESS HighestAcceptableAddress) {
    MemoryManager* mm = memoryManager();
    if (!mm || NumberOfBytes == 0) return nullptr;
    UserProcess* process = currentProcess();
    return mm->allocateContiguous(NumberOfBytes, static_cast<uint64_t>(HighestAcceptableAddress.QuadPart),
                                  process ? process->processId() : 0);
}

VOID MmFreeContiguousMemory(PVOID BaseAddress) {
    MemoryManager* mm = memoryManager();
    if (!BaseAddress) return;
    if (!mm || !mm->freeContiguous(BaseAddress)) klog("MmFreeContiguousMemory: %p is not a contiguous block", BaseAddress);
}

PHYSICAL_ADDRESS MmGetPhysicalAddress(PVOID BaseAddress) {
    PHYSICAL_ADDRESS result;
    result.QuadPart = 0;
    MemoryManager* mm = memoryManager();
    if (!mm) return result;
    if (auto physical = mm->physical().physicalAddressOf(BaseAddress)) {
        result.QuadPart = static_cast<LONGLONG>(*physical);
    } else if (UserProcess* process = currentProcess()) {
        result.QuadPart = static_cast<LONGLONG>(process->physicalAddressOf(reinterpret_cast<uint64_t>(BaseAddress)));
    }
    return result;
}

BOOLEAN MmIsAddressValid(PVOID VirtualAddress) {
    MemoryManager* mm = memoryManager();
    if (!mm || !VirtualAddress) return FALSE;
    if (mm->physical().physicalAddressOf(VirtualAddress) || mm->isPool(VirtualAddress)) return TRUE;
    if (UserProcess* process = currentProcess())
        return process->physicalAddressOf(reinterpret_cast<uint64_t>(VirtualAddress)) != 0 ? TRUE : FALSE;
    return FALSE;
}

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN, BOOLEAN, PIRP) {
    if (Length == 0) return nullptr;
    const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(VirtualAddress, Length);
    const size_t size = sizeof(MDL) + pages * sizeof(PFN_NUMBER);
    auto* mdl = static_cast<PMDL>(ExAllocatePoolWithTag(NonPagedPool, size, 'ldM '));
    if (!mdl) return nullptr;
    std::memset(mdl, 0, size);
    mdl->Size = static_cast<CSHORT>(std::min<size_t>(size, 0x7FFF));
    mdl->StartVa = PAGE_ALIGN(VirtualAddress);
    mdl->ByteOffset = BYTE_OFFSET(VirtualAddress);
    mdl->ByteCount = Length;
    for (ULONG i = 0; i < pages; ++i) pfnArray(mdl)[i] = kNoPage;
    verifier::allocated(verifier::Resource::Mdl, mdl, size, __builtin_return_address(0));
    return mdl;
}

VOID IoFreeMdl(PMDL Mdl) {
    if (!Mdl) return;
    verifier::freed(verifier::Resource::Mdl, Mdl);
    ExFreePool(Mdl);
}

VOID MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList) {
    MemoryManager* mm = memoryManager();
    PMDL mdl = MemoryDescriptorList;
    const ULONG pages = pageCount(mdl);
    for (ULONG i = 0; i < pages; ++i) {
        const auto* page = static_cast<const uint8_t*>(mdl->StartVa) + uint64_t{i} * PAGE_SIZE;
        auto physical = mm ? mm->physical().physicalAddressOf(page) : std::nullopt;
        pfnArray(mdl)[i] = physical ? static_cast<PFN_NUMBER>(*physical >> PAGE_SHIFT) : kNoPage;
        if (!physical) klog("MmBuildMdlForNonPagedPool: %p is not machine memory", static_cast<const void*>(page));
    }
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

PVOID MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode, MEMORY_CACHING_TYPE,
                                   PVOID RequestedAddress, ULONG, ULONG) {
    MemoryManager* mm = memoryManager();
    PMDL mdl = MemoryDescriptorList;
    if (!mm || !mdl) return nullptr;
    uint64_t physical = 0;
    const bool contiguous = contiguousPhysical(mdl, &physical);
    if (AccessMode == KernelMode) {
        if (mdl->MappedSystemVa) return mdl->MappedSystemVa;
        if (!contiguous) return nullptr;
        uint8_t* host = mm->physical().hostAddress(physical, uint64_t{pageCount(mdl)} * PAGE_SIZE);
        if (!host) return nullptr;
        mdl->MappedSystemVa = host + mdl->ByteOffset;
        mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
        return mdl->MappedSystemVa;
    }
    UserProcess* process = currentProcess();
    if (!process || !contiguous || RequestedAddress) {
        if (!contiguous) klog("MmMapLockedPages: the pages are not contiguous machine memory");
        return nullptr;
    }
    const uint64_t size = uint64_t{pageCount(mdl)} * PAGE_SIZE;
    const uint64_t view = process->mapPhysical(physical, size);
    if (view == 0) return nullptr;
    const uint64_t user = view + mdl->ByteOffset;
    mm->addUserView(MemoryManager::UserView{process->processId(), user, view, physical, size, mdl});
    return reinterpret_cast<PVOID>(user);
}

PVOID MmMapLockedPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode) {
    return MmMapLockedPagesSpecifyCache(MemoryDescriptorList, AccessMode, MmCached, nullptr, TRUE,
                                        NormalPagePriority);
}

VOID MmUnmapLockedPages(PVOID BaseAddress, PMDL MemoryDescriptorList) {
    MemoryManager* mm = memoryManager();
    if (!mm || !BaseAddress) return;
    if (MemoryDescriptorList && BaseAddress == MemoryDescriptorList->MappedSystemVa) {
        MemoryDescriptorList->MdlFlags &= ~MDL_MAPPED_TO_SYSTEM_VA;
        return;  // system mappings are the machine's own view of its memory
    }
    UserProcess* process = currentProcess();
    if (!process) {
        klog("MmUnmapLockedPages: %p unmapped outside a process context", BaseAddress);
        return;
    }
    auto view = mm->takeUserView(process->processId(), reinterpret_cast<uint64_t>(BaseAddress));
    if (!view) {
        klog("MmUnmapLockedPages: %p is no mapping of process %u", BaseAddress, process->processId());
        return;
    }
    process->unmapView(view->viewAddress);
}

}  // extern "C"
