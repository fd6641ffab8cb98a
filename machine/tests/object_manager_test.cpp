// The object manager: lifetime of named objects and mutex ownership.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

TEST(ObjectManager, AMappingCannotBeResizedByAnyHolder) {
    ObjectManager m;
    ObjectResult created = m.createMapping(kProcA, "Counts", 8192);
    ObjectResult opened = m.openMapping(kProcB, "Counts");
    ASSERT_TRUE(created.fd.valid() && opened.fd.valid());
    auto* view = static_cast<uint8_t*>(::mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, created.fd.get(), 0));
    ASSERT_NE(view, MAP_FAILED);
    view[8191] = 0x42;
    for (int fd : {created.fd.get(), opened.fd.get()}) {
        errno = 0;
        EXPECT_EQ(::ftruncate(fd, 0), -1);
        EXPECT_EQ(errno, EPERM);
        EXPECT_EQ(::ftruncate(fd, 1 << 20), -1);
        EXPECT_EQ(errno, EPERM);
        EXPECT_EQ(::fcntl(fd, F_ADD_SEALS, F_SEAL_FUTURE_WRITE), -1);
    }
    struct stat st{};
    ASSERT_EQ(::fstat(opened.fd.get(), &st), 0);
    EXPECT_EQ(st.st_size, 8192);
    EXPECT_EQ(view[8191], 0x42);  // the view survives: no SIGBUS
    // Another process's writable view is still possible.
    void* second = ::mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, opened.fd.get(), 0);
    ASSERT_NE(second, MAP_FAILED);
    EXPECT_EQ(static_cast<uint8_t*>(second)[8191], 0x42);
    ::munmap(second, 8192);
    ::munmap(view, 8192);
}

TEST(ObjectManager, AnEndedProcessGetsNoNewHandles) {
    ObjectManager m;
    ASSERT_EQ(m.createMapping(kProcB, "Existing", 4096).error, win32err::kSuccess);
    ASSERT_EQ(m.createMutex(kProcB, kThreadB, "ExistingMutex", false).error, win32err::kSuccess);
    m.processExited(kProcA);
    ObjectResult late = m.createMapping(kProcA, "Late", 4096);
    EXPECT_EQ(late.error, win32err::kProcessAborted);
    EXPECT_EQ(late.handle, 0u);
    EXPECT_FALSE(late.fd.valid());
    EXPECT_EQ(m.createMapping(kProcA, "Existing", 4096).error, win32err::kProcessAborted);
    EXPECT_EQ(m.openMapping(kProcA, "Existing").error, win32err::kProcessAborted);
    EXPECT_EQ(m.createMutex(kProcA, kThreadA, "LateMutex", true).error, win32err::kProcessAborted);
    EXPECT_EQ(m.openMutex(kProcA, "ExistingMutex").error, win32err::kProcessAborted);
    EXPECT_TRUE(m.handlesOf(kProcA).empty());
    auto objects = m.objects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].handles, 1u);
    EXPECT_EQ(objects[1].handles, 1u);
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
