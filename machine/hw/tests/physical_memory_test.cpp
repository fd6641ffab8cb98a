#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lxmachine/hw/contiguous_allocator.h"
#include "lxmachine/hw/physical_memory.h"

namespace lxhw {
namespace {

constexpr uint64_t MiB = 1024 * 1024;

TEST(ContiguousAllocator, AlignmentLimitExhaustionAndReuse) {
    ContiguousAllocator allocator(0x100000, 4 * MiB);  // [1 MiB, 5 MiB)

    auto a = allocator.allocate(1, 0xFFFFFFFF);
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, 0x100000u);
    EXPECT_EQ(allocator.blockSize(*a), 4096u);  // rounded up to a page

    auto aligned = allocator.allocate(4096, 0xFFFFFFFF, 0x100000);
    ASSERT_TRUE(aligned);
    EXPECT_EQ(*aligned, 0x200000u);  // next 1 MiB boundary, the gap stays free

    // The gap between the two blocks is used first by a fitting request.
    auto gap = allocator.allocate(8192, 0xFFFFFFFF);
    ASSERT_TRUE(gap);
    EXPECT_EQ(*gap, 0x101000u);

    // Highest acceptable address: a block must end at or below it.
    EXPECT_FALSE(allocator.allocate(2 * MiB, 0x200000 + 2 * MiB - 2));
    EXPECT_FALSE(allocator.allocate(MiB, 0x2FFFFF));  // only the range above 0x201000 is large enough
    auto below = allocator.allocate(0x80000, 0x2FFFFF);
    ASSERT_TRUE(below);
    EXPECT_EQ(*below, 0x103000u);

    // Exhaustion: more than what is left fails and changes nothing.
    const uint64_t freeBefore = allocator.freeBytes();
    EXPECT_FALSE(allocator.allocate(freeBefore + 4096, 0xFFFFFFFF));
    EXPECT_EQ(allocator.freeBytes(), freeBefore);
    EXPECT_FALSE(allocator.allocate(0, 0xFFFFFFFF));
    EXPECT_FALSE(allocator.allocate(4096, 0xFFFFFFFF, 3000));  // not a power of two

    // Free merges neighbours: after freeing everything one block of all memory fits.
    EXPECT_FALSE(allocator.free(*a + 0x800));  // not a block start
    EXPECT_TRUE(allocator.free(*gap));
    EXPECT_TRUE(allocator.free(*a));
    EXPECT_TRUE(allocator.free(*aligned));
    EXPECT_TRUE(allocator.free(*below));
    EXPECT_FALSE(allocator.free(*below));
    EXPECT_EQ(allocator.usedBytes(), 0u);
    auto all = allocator.allocate(4 * MiB, 0xFFFFFFFF);
    ASSERT_TRUE(all);
    EXPECT_EQ(*all, 0x100000u);
    auto inside = allocator.blockContaining(*all + 12345);
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->first, *all);
    EXPECT_EQ(inside->second, 4 * MiB);
}

TEST(PhysicalMemory, HostAndPhysicalAddressesAndFreedPagesReadZero) {
    std::string error;
    auto memory = PhysicalMemory::create(32 * MiB, 0xE0000000, 16 * MiB, &error);
    ASSERT_TRUE(memory) << error;
    EXPECT_EQ(memory->ram().physicalBase, 0u);
    EXPECT_EQ(memory->ram().size, 32 * MiB);
    EXPECT_EQ(memory->vram().physicalBase, 0xE0000000u);

    uint8_t* vram = memory->hostAddress(0xE0000010, 16);
    ASSERT_NE(vram, nullptr);
    EXPECT_EQ(memory->physicalAddressOf(vram), 0xE0000010u);
    EXPECT_EQ(memory->hostAddress(0xE0000000 + 16 * MiB - 8, 16), nullptr);  // runs past the end
    EXPECT_EQ(memory->hostAddress(0xD0000000), nullptr);
    int onStack = 0;
    EXPECT_FALSE(memory->physicalAddressOf(&onStack));

    auto block = memory->allocateContiguous(3 * 4096, 0xFFFFFFFF);
    ASSERT_TRUE(block);
    EXPECT_GE(*block, PhysicalMemory::kReservedLowMemory);
    uint8_t* host = memory->hostAddress(*block, 3 * 4096);
    ASSERT_NE(host, nullptr);
    std::memset(host, 0xAB, 3 * 4096);
    ASSERT_TRUE(memory->freeContiguous(*block));
    auto again = memory->allocateContiguous(3 * 4096, 0xFFFFFFFF);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *block);
    EXPECT_EQ(host[0], 0);
    EXPECT_EQ(host[3 * 4096 - 1], 0);

    // The memfd is the same memory the kernel sees through the host mapping.
    uint8_t byte = 0x5A;
    ASSERT_EQ(pwrite(memory->ram().fd, &byte, 1, static_cast<off_t>(*again + 100)), 1);
    EXPECT_EQ(host[100], 0x5A);
}

TEST(PhysicalMemory, HandedOutDescriptorsCannotBeResizedOrResealed) {
    std::string error;
    auto memory = PhysicalMemory::create(32 * MiB, 0xE0000000, 16 * MiB, &error);
    ASSERT_TRUE(memory) << error;
    for (const MemoryRange& range : memory->ranges()) {
        SCOPED_TRACE(range.name);
        uint8_t* last = memory->hostAddress(range.physicalBase + range.size - 1);
        ASSERT_NE(last, nullptr);
        *last = 0x77;
        errno = 0;
        EXPECT_EQ(::ftruncate(range.fd, 4096), -1);
        EXPECT_EQ(errno, EPERM);
        EXPECT_EQ(::ftruncate(range.fd, static_cast<off_t>(range.size * 2)), -1);
        EXPECT_EQ(errno, EPERM);
        // A seal that would refuse other processes' writable views cannot be added.
        EXPECT_EQ(::fcntl(range.fd, F_ADD_SEALS, F_SEAL_FUTURE_WRITE), -1);
        struct stat st{};
        ASSERT_EQ(::fstat(range.fd, &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), range.size);
        // The machine's mapping still reaches the last byte (a shrink would fault here).
        EXPECT_EQ(*last, 0x77);
    }
}

TEST(PhysicalMemory, RejectsBadLayouts) {
    std::string error;
    EXPECT_FALSE(PhysicalMemory::create(8 * MiB, 0xE0000000, 16 * MiB, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(PhysicalMemory::create(256 * MiB, 0x1000000, 16 * MiB, &error));  // VRAM inside RAM
    EXPECT_FALSE(PhysicalMemory::create(256 * MiB, 0xFFF00000, 16 * MiB, &error));  // crosses 4 GiB
}

}  // namespace
}  // namespace lxhw
