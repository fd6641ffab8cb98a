// Memory seen by drivers: contiguous blocks, MDL mappings into the calling
// process, physical addresses, register windows and VRAM.
#include <ntddk.h>

#include <unistd.h>

#include <cstring>

#include "test_machine.h"

namespace nttest {
namespace {

class Memory : public KernelTest {};

TEST_F(Memory, AMappedBlockIsTheSameMemoryForDriverAndProcess) {
    plugTestDevice();
    uint64_t handle = open("\\\\.\\NtTest0");
    const uint32_t size = 3 * 4096 + 100;
    MapRecord record{};
    uint32_t information = 0;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlMap, &size, 4, &record, sizeof record, &information), STATUS_SUCCESS);
    ASSERT_EQ(information, sizeof record);
    ASSERT_NE(record.userAddress, 0u);
    EXPECT_EQ(record.physical % 4096, 0u);
    EXPECT_LE(record.physical + size, 64u << 20);
    EXPECT_EQ(process_->views(), 1u);
    EXPECT_EQ(process_->physicalAddressOf(record.userAddress + 5000), record.physical + 5000);

    // The pattern the driver wrote is in the process's view; what the process writes reaches the driver.
    auto* user = reinterpret_cast<uint8_t*>(record.userAddress);
    for (uint32_t i : {0u, 1u, 4095u, 4096u, size - 1}) EXPECT_EQ(user[i], static_cast<uint8_t>(i * 7 + 3)) << i;
    user[10] = 0xAB;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(record.kernelAddress)[10], 0xAB);
    uint8_t fromRam = 0;
    ASSERT_EQ(pread(kernel_->memoryRegions()[0].fd, &fromRam, 1, static_cast<off_t>(record.physical + 10)), 1);
    EXPECT_EQ(fromRam, 0xAB);

    // MmGetPhysicalAddress of the user address, in the caller's context.
    uint64_t address = record.userAddress + 123, physical = 0;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlPhysical, &address, 8, &physical, 8), STATUS_SUCCESS);
    EXPECT_EQ(physical, record.physical + 123);
    address = 0x1000;  // nothing there
    ASSERT_EQ(ioctl(*process_, handle, kIoctlPhysical, &address, 8, &physical, 8), STATUS_SUCCESS);
    EXPECT_EQ(physical, 0u);

    std::string status = kernel_->statusJson();
    EXPECT_NE(status.find("\"pid\":100"), std::string::npos);
    EXPECT_NE(status.find("\"mappings\":[{\"userAddress\":" + std::to_string(record.userAddress) + ",\"physical\":" +
                          std::to_string(record.physical) + ",\"size\":16384}]"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("{\"physical\":" + std::to_string(record.physical) + ",\"size\":16384}"), std::string::npos);

    ASSERT_EQ(ioctl(*process_, handle, kIoctlUnmap, &record, sizeof record, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(process_->views(), 0u);
    status = kernel_->statusJson();
    EXPECT_EQ(status.find("\"mappings\":[{"), std::string::npos);
    EXPECT_EQ(ioctl(*process_, handle, kIoctlUnmap, &record, sizeof record, nullptr, 0), STATUS_INVALID_PARAMETER);
    kernel_->closeFile(*process_, handle);
}

TEST_F(Memory, ContiguousMemoryHonoursTheHighestAddressAndRunsOut) {
    PHYSICAL_ADDRESS highest;
    highest.QuadPart = 0x1FFFFF;
    void* low = MmAllocateContiguousMemory(0x80000, highest);
    ASSERT_NE(low, nullptr);
    const uint64_t lowPhysical = static_cast<uint64_t>(MmGetPhysicalAddress(low).QuadPart);
    EXPECT_GE(lowPhysical, 0x100000u);
    EXPECT_LE(lowPhysical + 0x80000 - 1, 0x1FFFFFu);
    EXPECT_EQ(MmAllocateContiguousMemory(0x100000, highest), nullptr);  // nothing that large fits below 2 MiB now
    EXPECT_TRUE(MmIsAddressValid(low));
    EXPECT_TRUE(MmIsAddressValid(static_cast<uint8_t*>(low) + 0x7FFFF));

    highest.QuadPart = 0xFFFFFFFF;
    EXPECT_EQ(MmAllocateContiguousMemory(64u << 20, highest), nullptr);  // more than the machine has
    void* big = MmAllocateContiguousMemory(32u << 20, highest);
    ASSERT_NE(big, nullptr);
    MmFreeContiguousMemory(low);
    void* again = MmAllocateContiguousMemory(0x80000, highest);
    EXPECT_EQ(again, low);  // the freed block is reused first
    EXPECT_NE(kernel_->statusJson().find("\"system\":{\"contiguous\":[{\"physical\":1048576,\"size\":524288}"),
              std::string::npos);
    MmFreeContiguousMemory(again);
    MmFreeContiguousMemory(big);

    int local = 0;
    EXPECT_FALSE(MmIsAddressValid(&local));
    void* pool = ExAllocatePoolWithTag(NonPagedPool, 40, 'tseT');
    EXPECT_TRUE(MmIsAddressValid(static_cast<uint8_t*>(pool) + 39));
    EXPECT_EQ(MmGetPhysicalAddress(pool).QuadPart, 0);  // pool is not machine memory
    ExFreePool(pool);
}

TEST_F(Memory, RegisterWindowsReachTheModelAndVramIsMemory) {
    // The display adapter's register bank through MmMapIoSpace and READ_REGISTER_ULONG.
    uint32_t bar2 = 0;
    ASSERT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 1, &bar2, 0x18, 4), 4u);
    PHYSICAL_ADDRESS registers;
    registers.QuadPart = bar2 & ~0xFu;
    auto* bank = static_cast<volatile ULONG*>(MmMapIoSpace(registers, 0x100, MmNonCached));
    ASSERT_NE(bank, nullptr);
    EXPECT_EQ(READ_REGISTER_ULONG(bank + 0), 0x4756584Cu);
    EXPECT_EQ(READ_REGISTER_ULONG(bank + 1), 1024u);
    EXPECT_EQ(READ_REGISTER_ULONG(bank + 4), 4096u);  // pitch
    ASSERT_TRUE(kernel_->setDisplayMode(800, 600, 16));
    EXPECT_EQ(READ_REGISTER_ULONG(bank + 1), 800u);
    EXPECT_EQ(READ_REGISTER_ULONG(bank + 5), 0xF800u);
    EXPECT_FALSE(kernel_->setDisplayMode(800, 600, 13));
    EXPECT_EQ(kernel_->displayMode().width, 800u);
    EXPECT_EQ(kernel_->displayMode().bits, 16u);
    MmUnmapIoSpace(const_cast<ULONG*>(bank), 0x100);

    PHYSICAL_ADDRESS nothing;
    nothing.QuadPart = 0xD0000000;
    EXPECT_EQ(MmMapIoSpace(nothing, 0x100, MmNonCached), nullptr);

    PHYSICAL_ADDRESS vramBase;
    vramBase.QuadPart = 0xE0000000;
    auto* vram = static_cast<uint8_t*>(MmMapIoSpace(vramBase, 0x2000, MmWriteCombined));
    ASSERT_NE(vram, nullptr);
    vram[0x1234] = 0x77;
    auto regions = kernel_->memoryRegions();
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[1].physicalBase, 0xE0000000u);
    uint8_t byte = 0;
    ASSERT_EQ(pread(regions[1].fd, &byte, 1, 0x1234), 1);
    EXPECT_EQ(byte, 0x77);
    EXPECT_EQ(static_cast<uint64_t>(MmGetPhysicalAddress(vram + 0x1234).QuadPart), 0xE0001234u);
    MmUnmapIoSpace(vram, 0x2000);
}

}  // namespace
}  // namespace nttest
