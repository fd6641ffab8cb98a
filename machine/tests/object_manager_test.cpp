// The object manager: lifetime of named objects and mutex ownership.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <thread>

#include "object_manager.h"

using namespace lxm;

namespace {

constexpr uint32_t kProcA = 1, kProcB = 2;
constexpr uint64_t kThreadA = 10, kThreadA2 = 11, kThreadB = 20;

TEST(ObjectManager, MappingIsSharedAndDiesWithItsLastHandle) {
    ObjectManager m;
    ObjectResult created = m.createMapping(kProcA, "Shared", 8192);
    ASSERT_EQ(created.error, win32err::kSuccess);
    EXPECT_EQ(created.size, 8192u);
    ASSERT_TRUE(created.fd.valid());
    ObjectResult again = m.createMapping(kProcB, "Shared", 100);
    EXPECT_EQ(again.error, win32err::kAlreadyExists);
    EXPECT_EQ(again.size, 8192u);  // the existing object's size
    // Both descriptors reach the same memory.
    ASSERT_EQ(::pwrite(created.fd.get(), "abc", 3, 4096), 3);
    char buffer[3] = {};
    ASSERT_EQ(::pread(again.fd.get(), buffer, 3, 4096), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    EXPECT_EQ(m.createMutex(kProcA, kThreadA, "Shared", false).error, win32err::kInvalidHandle);
    EXPECT_EQ(m.openMapping(kProcA, "Other").error, win32err::kFileNotFound);

    ASSERT_EQ(m.objects().size(), 1u);
    EXPECT_EQ(m.objects()[0].handles, 2u);
    EXPECT_EQ(m.close(kProcA, created.handle), win32err::kSuccess);
    EXPECT_EQ(m.close(kProcA, created.handle), win32err::kInvalidHandle);
    EXPECT_EQ(m.openMapping(kProcA, "Shared").error, win32err::kSuccess);
    m.processExited(kProcA);
    EXPECT_EQ(m.close(kProcB, again.handle), win32err::kSuccess);
    EXPECT_TRUE(m.objects().empty());
    EXPECT_EQ(m.openMapping(kProcB, "Shared").error, win32err::kFileNotFound);
}

TEST(ObjectManager, MutexOwnershipRecursionAndRelease) {
    ObjectManager m;
    uint32_t error = 0;
    ObjectResult a = m.createMutex(kProcA, kThreadA, "M", true);
    ObjectResult b = m.openMutex(kProcB, "M");
    ASSERT_EQ(b.error, win32err::kSuccess);
    EXPECT_EQ(m.wait(kProcB, kThreadB, b.handle, 20, &error), kWaitTimeout);
    EXPECT_EQ(m.releaseMutex(kProcB, kThreadB, b.handle), win32err::kNotOwner);
    // The owner may take it again; it is free only after as many releases.
    EXPECT_EQ(m.wait(kProcA, kThreadA, a.handle, 0, &error), kWaitObject0);
    EXPECT_EQ(m.releaseMutex(kProcA, kThreadA, a.handle), win32err::kSuccess);
    EXPECT_EQ(m.wait(kProcB, kThreadB, b.handle, 0, &error), kWaitTimeout);
    EXPECT_EQ(m.releaseMutex(kProcA, kThreadA, a.handle), win32err::kSuccess);
    EXPECT_EQ(m.releaseMutex(kProcA, kThreadA, a.handle), win32err::kNotOwner);
    EXPECT_EQ(m.wait(kProcB, kThreadB, b.handle, 0, &error), kWaitObject0);
    // Another thread of the owning process is not the owner.
    EXPECT_EQ(m.wait(kProcA, kThreadA2, a.handle, 0, &error), kWaitTimeout);
}

TEST(ObjectManager, WaiterGetsTheMutexWhenReleased) {
    ObjectManager m;
    ObjectResult a = m.createMutex(kProcA, kThreadA, "M", true);
    ObjectResult b = m.openMutex(kProcB, "M");
    uint32_t result = 0, error = 0;
    std::thread waiter([&] { result = m.wait(kProcB, kThreadB, b.handle, 30000, &error); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m.releaseMutex(kProcA, kThreadA, a.handle), win32err::kSuccess);
    waiter.join();
    EXPECT_EQ(result, kWaitObject0);
    ASSERT_EQ(m.objects().size(), 1u);
    EXPECT_EQ(m.objects()[0].ownerProcess, kProcB);
}

TEST(ObjectManager, OwnerThatEndsAbandonsTheMutex) {
    ObjectManager m;
    uint32_t error = 0;
    ObjectResult a = m.createMutex(kProcA, kThreadA, "M", true);
    ObjectResult b = m.openMutex(kProcB, "M");
    uint32_t result = 0;
    std::thread waiter([&] { result = m.wait(kProcB, kThreadB, b.handle, 0xFFFFFFFF, &error); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m.processExited(kProcA);
    waiter.join();
    EXPECT_EQ(result, kWaitAbandoned);
    // Abandonment is reported once; the new owner holds it normally.
    EXPECT_EQ(m.releaseMutex(kProcB, kThreadB, b.handle), win32err::kSuccess);
    EXPECT_EQ(m.wait(kProcB, kThreadB, b.handle, 0, &error), kWaitObject0);

    ObjectResult c = m.createMutex(kProcB, kThreadB, "N", true);
    m.threadExited(kThreadB);
    EXPECT_EQ(m.wait(kProcB, kThreadB, c.handle, 0, &error), kWaitAbandoned);
    (void)a;
}

TEST(ObjectManager, WaitsEndWhenTheMachineGoesDown) {
    ObjectManager m;
    m.createMutex(kProcA, kThreadA, "M", true);
    ObjectResult b = m.openMutex(kProcB, "M");
    uint32_t result = 0, error = 0;
    std::thread waiter([&] { result = m.wait(kProcB, kThreadB, b.handle, 0xFFFFFFFF, &error); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m.cancelAllWaits();
    waiter.join();
    EXPECT_EQ(result, kWaitFailed);
    EXPECT_EQ(error, win32err::kOperationAborted);
    EXPECT_EQ(m.wait(kProcB, kThreadB, 999, 0, &error), kWaitFailed);
    EXPECT_EQ(error, win32err::kInvalidHandle);
}

}  // namespace
