// A fake static-memory service library: a registry with the requested size
// and the validity of the last reservation, a reserved block held by the
// host, and mappings that point straight into that block.
#include <cstdlib>
#include <cstring>

#include "fake_host.h"
#include "lx/static_mem_records.h"

namespace {

__attribute__((constructor)) void attach() { ++fakeHost()->staticMemLibrary.attaches; }
__attribute__((destructor)) void detach() { ++fakeHost()->staticMemLibrary.detaches; }

bool insideStaticMemory(uint32_t offset, uint32_t length) {
  return static_cast<uint64_t>(offset) + length <= kFakeStaticMemBytes;
}

uint64_t nextMappingHandle = 1;

}  // namespace

LX_EXPORT int32_t HmbGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress) {
  FakeHost* host = fakeHost();
  ++host->getStaticMemCalls;
  *requiredPages = host->requiredPages;
  *physicalAddress = 0;
  if (host->reservationValid == 0) {
    return 0;
  }
  *physicalAddress = kFakeStaticMemBase;
  return 1;
}

LX_EXPORT int32_t HmbSetStaticMem(uint32_t pages) {
  FakeHost* host = fakeHost();
  ++host->setStaticMemCalls;
  if (host->failSetStaticMem) {
    return 0;
  }
  host->requiredPages = pages;
  host->reservationValid = 0;  // takes effect at the next driver start
  return 1;
}

LX_EXPORT int32_t HmbStaticMemLock(StaticMemBlock* block) {
  FakeHost* host = fakeHost();
  ++host->lockCalls;
  uint32_t offset = block->Offset;
  uint32_t length = block->Length;
  std::memset(block, 0, sizeof *block);
  if (!insideStaticMemory(offset, length)) {
    return 0;
  }
  uint8_t* window = host->staticMemory + offset;
  block->KernelAddress = reinterpret_cast<uint64_t>(window);
  block->PhysicalAddress = kFakeStaticMemBase + offset;
  if (length == 0 || host->failMapping) {
    return 0;
  }
  block->Offset = offset;
  block->Length = length;
  block->UserAddress = reinterpret_cast<uint64_t>(window);
  block->MappingHandle = nextMappingHandle++;
  return 1;
}

LX_EXPORT int32_t HmbStaticMemUnlock(const StaticMemBlock*) {
  FakeHost* host = fakeHost();
  ++host->unlockCalls;
  return host->failUnlock ? 0 : 1;
}

LX_EXPORT int32_t HmbFillStaticMem(uint32_t offset, uint32_t length, uint8_t value) {
  FakeHost* host = fakeHost();
  ++host->fillCalls;
  if (!insideStaticMemory(offset, length)) {
    return 0;
  }
  std::memset(host->staticMemory + offset, value, length);
  return 1;
}

LX_EXPORT int32_t HmbDynamicMemAlloc(DynamicMemBlock* block) {
  FakeHost* host = fakeHost();
  ++host->dynamicAllocCalls;
  if (host->failDynamicAlloc) {
    return 0;
  }
  uint32_t size = block->Size;
  void* memory = std::calloc(1, size);
  std::memset(block, 0, sizeof *block);
  if (memory != nullptr) {
    block->UserAddress = reinterpret_cast<uint64_t>(memory);
    block->KernelAddress = block->UserAddress;
    block->PhysicalAddress = kFakeDynamicMemBase;
    block->Size = size;
    block->MappingHandle = nextMappingHandle++;
  }
  return 1;
}

LX_EXPORT int32_t HmbDynamicMemFree(const DynamicMemBlock* block) {
  ++fakeHost()->dynamicFreeCalls;
  if (fakeHost()->failDynamicFree) {
    fakeHost()->refusedBlock = reinterpret_cast<void*>(block->UserAddress);
    return 0;
  }
  std::free(reinterpret_cast<void*>(block->UserAddress));
  return 1;
}
