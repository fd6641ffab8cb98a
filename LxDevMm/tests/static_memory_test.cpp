// The static-memory facade against a fake service library, each scenario in
// a freshly started device manager.
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>
#include <windows.h>

#include "fake_host.h"
#include "fresh_process.h"
#include "lx/devmm.h"

namespace {

constexpr int kTernCard = 4;

bool serviceLoaded() { return GetModuleHandleA("Hmbseapi.dll") != nullptr; }

struct StaticMemAnswer {
  LxStatus status;
  uint32_t pages;
  uint32_t base;
};

StaticMemAnswer askStaticMem() {
  StaticMemAnswer a{0, 0xEEEEEEEE, 0xEEEEEEEE};
  a.status = LxDevGetStaticMem(&a.pages, &a.base);
  return a;
}

void reserve(uint32_t pages) {
  fakeHost()->requiredPages = pages;
  fakeHost()->reservationValid = 1;
}

TEST(StaticMemWindow, EmptyWindowIsAnsweredWithoutServiceOrCard) {
  expectInFreshProcess([] {
    StaticMemBlock block{5, 0, 0xDEAD, 0xBEEF, 0x77, 0, 9};
    EXPECT_EQ(LxDevStaticMemLock(&block), LX_OK);
    EXPECT_EQ(block.UserAddress, 0u);
    EXPECT_EQ(block.MappingHandle, 0u);
    EXPECT_EQ(block.Offset, 5u);
    EXPECT_EQ(block.KernelAddress, 0xBEEFu);
    EXPECT_EQ(block.PhysicalAddress, 0x77u);
    EXPECT_EQ(fakeHost()->staticMemLibrary.attaches, 0);
    EXPECT_EQ(fakeHost()->lockCalls, 0);
  });
}

TEST(StaticMemWindow, WithoutAnOpenCardTheServiceIsNotThere) {
  expectInFreshProcess([] {
    reserve(16);
    StaticMemBlock block{0, 4096, 0, 0, 0, 0, 0};
    EXPECT_EQ(LxDevStaticMemLock(&block), LX_OPEN_DRIVER_FAILED);
    EXPECT_EQ(LxDevFillStaticMem(0, 4096, 0xFF), LX_OPEN_DRIVER_FAILED);
    EXPECT_EQ(fakeHost()->staticMemLibrary.attaches, 0) << "lock and fill never load the service";
    // A window locked while a card was open is unlocked after the last end:
    // the unlock loads the service for the call and releases it again.
    EXPECT_EQ(LxDevStaticMemUnlock(&block), LX_OK);
    EXPECT_EQ(fakeHost()->unlockCalls, 1);
    EXPECT_EQ(fakeHost()->staticMemLibrary.attaches, 1);
    EXPECT_EQ(fakeHost()->staticMemLibrary.detaches, 1);
    EXPECT_EQ(LxDevStaticMemLock(nullptr), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevStaticMemUnlock(nullptr), LX_PARAMETER_INVALID);
  });
}

TEST(StaticMemWindow, LockFillAndUnlockReachTheReservedMemoryWhileACardIsOpen) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    reserve(16);
    host->ternCardCount = 1;
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    ASSERT_TRUE(serviceLoaded()) << "the card library imports the service";

    EXPECT_EQ(LxDevFillStaticMem(4096, 8192, 0x1AB), LX_OK);  // only the low byte counts
    EXPECT_EQ(host->staticMemory[4095], 0);
    EXPECT_EQ(host->staticMemory[4096], 0xAB);
    EXPECT_EQ(host->staticMemory[12287], 0xAB);
    EXPECT_EQ(host->staticMemory[12288], 0);

    StaticMemBlock block{4096, 8192, 0, 0, 0, 0, 0};
    ASSERT_EQ(LxDevStaticMemLock(&block), LX_OK);
    EXPECT_EQ(block.PhysicalAddress, kFakeStaticMemBase + 4096);
    auto* window = reinterpret_cast<uint8_t*>(block.UserAddress);
    ASSERT_EQ(window, host->staticMemory + 4096);
    EXPECT_EQ(window[8191], 0xAB);
    window[0] = 0x5A;
    EXPECT_EQ(host->staticMemory[4096], 0x5A);
    EXPECT_EQ(LxDevStaticMemUnlock(&block), LX_OK);
    EXPECT_EQ(host->unlockCalls, 1);

    host->failUnlock = true;
    EXPECT_EQ(LxDevStaticMemUnlock(&block), LX_INTERNAL_ERROR);
    EXPECT_EQ(LxDevFillStaticMem(kFakeStaticMemBytes - 1, 2, 0), LX_INTERNAL_ERROR);
    EXPECT_EQ(host->staticMemory[kFakeStaticMemBytes - 1], 0);

    StaticMemBlock outside{kFakeStaticMemBytes - 4096, 8192, 0, 0, 0, 0, 0};
    EXPECT_EQ(LxDevStaticMemLock(&outside), LX_ALLOCATE_DEVICE_MEMORY_ERROR);
    host->failMapping = true;
    StaticMemBlock unmapped{0, 4096, 0, 0, 0, 0, 0};
    EXPECT_EQ(LxDevStaticMemLock(&unmapped), LX_LOCK_DEVICE_MEMORY_ERROR);
    EXPECT_EQ(unmapped.PhysicalAddress, kFakeStaticMemBase);

    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_FALSE(serviceLoaded());
  });
}

TEST(StaticMemInfo, BeforeTheFirstOpenTheServiceIsAskedOnceAndReleased) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    reserve(16);
    StaticMemAnswer a = askStaticMem();
    EXPECT_EQ(a.status, LX_OK);
    EXPECT_EQ(a.pages, 16u);
    EXPECT_EQ(a.base, kFakeStaticMemBase);
    EXPECT_EQ(host->getStaticMemCalls, 1);
    EXPECT_EQ(host->staticMemLibrary.attaches, 1);
    EXPECT_EQ(host->staticMemLibrary.detaches, 1);
    EXPECT_FALSE(serviceLoaded());

    host->requiredPages = 99;  // not looked at again
    EXPECT_EQ(askStaticMem().pages, 16u);
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    EXPECT_EQ(host->getStaticMemCalls, 1) << "the snapshot copies the cell";
    a = askStaticMem();
    EXPECT_EQ(a.status, LX_OK);
    EXPECT_EQ(a.pages, 16u);
    EXPECT_EQ(host->getStaticMemCalls, 1);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
  });
}

TEST(StaticMemInfo, AFailedFetchKeepsAnsweringNotReserved) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    host->requiredPages = 8;  // asked for, but the reservation failed
    StaticMemAnswer a = askStaticMem();
    EXPECT_EQ(a.status, LX_ALLOCATE_DEVICE_MEMORY_ERROR);
    EXPECT_EQ(a.pages, 8u);
    EXPECT_EQ(a.base, 0u);
    host->reservationValid = 1;
    EXPECT_EQ(askStaticMem().status, LX_ALLOCATE_DEVICE_MEMORY_ERROR);
    EXPECT_EQ(host->getStaticMemCalls, 1);
    EXPECT_EQ(LxDevGetStaticMem(nullptr, &a.base), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevGetStaticMem(&a.pages, nullptr), LX_PARAMETER_INVALID);
  });
}

TEST(StaticMemInfo, ANewSizeIsNotReservedUntilTheDriverRestarts) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    reserve(16);
    host->ternCardCount = 1;
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    EXPECT_EQ(host->getStaticMemCalls, 1) << "the snapshot fetches when there is no cell";
    EXPECT_EQ(askStaticMem().status, LX_OK);

    ASSERT_EQ(LxDevSetStaticMem(32), LX_OK);
    EXPECT_TRUE(serviceLoaded()) << "the open card still holds the service";
    StaticMemAnswer a = askStaticMem();
    EXPECT_EQ(a.status, LX_ALLOCATE_DEVICE_MEMORY_ERROR);
    EXPECT_EQ(a.pages, 32u);
    EXPECT_EQ(a.base, 0u);
    EXPECT_EQ(host->getStaticMemCalls, 2);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_FALSE(serviceLoaded());
  });
}

TEST(StaticMemInfo, AFailedNewSizeChangesNothing) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    reserve(16);
    host->ternCardCount = 1;
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    host->failSetStaticMem = true;
    EXPECT_EQ(LxDevSetStaticMem(32), LX_INTERNAL_ERROR);
    host->ternCardCount = 2;
    StaticMemAnswer a = askStaticMem();
    EXPECT_EQ(a.status, LX_OK);
    EXPECT_EQ(a.pages, 16u);
    EXPECT_EQ(a.base, kFakeStaticMemBase);
    EXPECT_EQ(host->getStaticMemCalls, 1);
    int32_t count = 0;
    EXPECT_EQ(LxDevGetCardNumber(kTernCard, &count), LX_OK);
    EXPECT_EQ(count, 1) << "the snapshot must stay";
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
  });
}

TEST(DynamicMemory, BlocksComeFromTheServiceWhichIsLoadedOnlyForTheCall) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    DynamicMemBlock block{};
    block.Size = 0xd800;
    ASSERT_EQ(LxDevAllocDynamicMem(&block), LX_OK);
    ASSERT_NE(block.UserAddress, 0u);
    EXPECT_EQ(block.Size, 0xd800u);
    EXPECT_EQ(block.PhysicalAddress, kFakeDynamicMemBase);
    std::memset(reinterpret_cast<void*>(block.UserAddress), 0xFF, block.Size);
    EXPECT_FALSE(serviceLoaded());
    EXPECT_EQ(LxDevFreeDynamicMem(&block), LX_OK);
    EXPECT_EQ(host->dynamicAllocCalls, 1);
    EXPECT_EQ(host->dynamicFreeCalls, 1);
    EXPECT_EQ(host->staticMemLibrary.attaches, 2);
    EXPECT_EQ(host->staticMemLibrary.detaches, 2);

    host->failDynamicAlloc = true;
    DynamicMemBlock refused{};
    refused.Size = 16;
    EXPECT_EQ(LxDevAllocDynamicMem(&refused), LX_INTERNAL_ERROR);
    EXPECT_EQ(LxDevAllocDynamicMem(nullptr), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevFreeDynamicMem(nullptr), LX_PARAMETER_INVALID);
  });
}

}  // namespace
