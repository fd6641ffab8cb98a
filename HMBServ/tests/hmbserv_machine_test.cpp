// HMBServ in a private machine, through the compat layer's device requests:
// exact buffer lengths, the reservation as the registry asks, windows shared
// between processes, the fill, refused records, cleanup after a killed
// client, address translation and the display-adapter scan.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"
#include "machine_suite.h"

namespace {

using hmbtest::StackMachine;

constexpr LONG kInvalidParameter = static_cast<LONG>(0xC000000D);
constexpr LONG kInvalidDeviceRequest = static_cast<LONG>(0xC0000010);
constexpr uint32_t kSeededBytes = 4096u * 4096u;  // 16 MiB, as installed

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One open handle of the driver, closed at the end of its scope.
class ServiceHandle {
public:
    ServiceHandle()
        : handle_(CreateFileA("\\\\.\\HMBSERV", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ServiceHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The request's success; *returned gets the byte count.
    bool control(uint32_t code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
        *returned = 0xDEAD;
        return DeviceIoControl(handle_, code, const_cast<void*>(in), inLength, out, outLength, returned, nullptr) !=
               FALSE;
    }
    StaticMemBlock lock(uint32_t offset, uint32_t length) {
        StaticMemBlock block{};
        block.Offset = offset;
        block.Length = length;
        DWORD returned = 0;
        EXPECT_TRUE(control(IOCTL_HMB_STATIC_LOCK, &block, sizeof block, &block, sizeof block, &returned));
        EXPECT_EQ(returned, sizeof block);
        return block;
    }
    bool unlock(const StaticMemBlock& block) {
        DWORD returned = 0;
        return control(IOCTL_HMB_STATIC_UNLOCK, &block, sizeof block, nullptr, 0, &returned);
    }
    uint32_t staticBase() {
        uint32_t base = 0xDEADBEEF;
        DWORD returned = 0;
        EXPECT_TRUE(control(IOCTL_HMB_STATIC_BASE, nullptr, 0, &base, sizeof base, &returned));
        return base;
    }
    uint32_t physicalAddressOf(const void* address) {
        const uint64_t in = reinterpret_cast<uint64_t>(address);
        uint32_t physical = 0xDEADBEEF;
        DWORD returned = 0;
        EXPECT_TRUE(control(IOCTL_HMB_PHYSICAL_ADDRESS, &in, sizeof in, &physical, sizeof physical, &returned));
        EXPECT_EQ(returned, 4u);
        return physical;
    }
    bool fill(uint32_t offset, uint32_t length, uint8_t value) {
        StaticFillRequest request{offset, length, value, {0xEE, 0xEE, 0xEE}};
        DWORD returned = 0;
        return control(IOCTL_HMB_STATIC_FILL, &request, sizeof request, nullptr, 0, &returned);
    }

private:
    HANDLE handle_;
};

using hmbtest::allZero;

class HmbServMachine : public hmbtest::MachineSuite {};

TEST_F(HmbServMachine, EveryLengthMismatchIsRefusedWithNoBytes) {
    ServiceHandle service;
    ASSERT_TRUE(service.valid());
    struct Lengths {
        uint32_t code;
        DWORD in, out;
    };
    const Lengths exact[] = {{IOCTL_HMB_STATIC_LOCK, 40, 40},   {IOCTL_HMB_STATIC_UNLOCK, 40, 0},
                             {IOCTL_HMB_DYNAMIC_ALLOC, 4, 32},  {IOCTL_HMB_DYNAMIC_FREE, 32, 0},
                             {IOCTL_HMB_PHYSICAL_ADDRESS, 8, 4}, {IOCTL_HMB_FIND_DISPLAY_ADAPTER, 0, 8},
                             {IOCTL_HMB_STATIC_BASE, 0, 4},      {IOCTL_HMB_STATIC_FILL, 12, 0}};
    uint8_t in[64] = {}, out[64];
    for (const Lengths& l : exact) {
        for (int delta : {-1, +1}) {
            const DWORD badIn[2] = {l.in + delta, l.in};
            const DWORD badOut[2] = {l.out, l.out + delta};
            for (int which = 0; which < 2; ++which) {
                if (static_cast<int32_t>(badIn[which]) < 0 || static_cast<int32_t>(badOut[which]) < 0) continue;
                SCOPED_TRACE(testing::Message() << std::hex << l.code << " in " << badIn[which] << " out "
                                                << badOut[which]);
                std::memset(out, 0xCC, sizeof out);
                DWORD returned = 0;
                EXPECT_FALSE(service.control(l.code, in, badIn[which], out, badOut[which], &returned));
                EXPECT_EQ(LxGetLastNtStatus(), kInvalidParameter);
                EXPECT_EQ(returned, 0u);
                EXPECT_EQ(out[0], 0xCC);
            }
        }
    }
    DWORD returned = 0;
    EXPECT_FALSE(service.control(0x80002024, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(LxGetLastNtStatus(), kInvalidDeviceRequest);
    EXPECT_FALSE(service.control(0x80002000, in, 40, out, 40, &returned));
    EXPECT_EQ(LxGetLastNtStatus(), kInvalidDeviceRequest);
}

TEST_F(HmbServMachine, InstalledSizeIsReservedBelowFourGigabytes) {
    uint32_t pages = 0, returnValue = 0;
    ASSERT_TRUE(hmbtest::readParameter("RequiredMemorySize", &pages));
    EXPECT_EQ(pages, 4096u);
    ASSERT_TRUE(hmbtest::readParameter("ReturnValue", &returnValue));
    EXPECT_EQ(returnValue, 1u);
    ServiceHandle service;
    const uint32_t base = service.staticBase();
    EXPECT_NE(base, 0u);
    EXPECT_EQ(base % 4096, 0u);
    EXPECT_LE(uint64_t{base} + kSeededBytes, 0x100000000ull);

    // The whole-memory request maps all 16 MiB and names the effective window.
    StaticMemBlock whole = service.lock(LX_STATIC_MEM_WHOLE, LX_STATIC_MEM_WHOLE);
    EXPECT_EQ(whole.Offset, 0u);
    EXPECT_EQ(whole.Length, kSeededBytes);
    EXPECT_EQ(whole.PhysicalAddress, base);
    EXPECT_EQ(whole.Reserved, 0u);
    ASSERT_NE(whole.UserAddress, 0u);
    EXPECT_NE(whole.MappingHandle, 0u);
    auto* bytes = reinterpret_cast<uint8_t*>(whole.UserAddress);
    bytes[kSeededBytes - 1] = 0x42;  // the last byte is there
    EXPECT_EQ(service.physicalAddressOf(bytes + 12345), base + 12345);
    EXPECT_TRUE(service.unlock(whole));
}

TEST_F(HmbServMachine, WindowsOfTwoProcessesShareTheBytes) {
    ServiceHandle service;
    const uint32_t offset = 3 * 4096 + 100, length = 5000;
    StaticMemBlock window = service.lock(offset, length);
    ASSERT_NE(window.UserAddress, 0u);
    EXPECT_EQ(window.PhysicalAddress, service.staticBase() + offset);
    std::memset(reinterpret_cast<void*>(window.UserAddress), 0x3C, length);

    // The peer sees what we wrote and writes back through its own window.
    auto peer = hmbtest::runPeer({"load", "lock", std::to_string(offset), std::to_string(length), "expect", "0",
                                  "0x3C", "fill", "0", "0x7E", "unlock", "0"});
    EXPECT_EQ(peer.exitStatus, 0) << peer.output;
    EXPECT_TRUE(contains(peer.output, "expect ok")) << peer.output;
    EXPECT_TRUE(contains(peer.output, "unlock rc=1")) << peer.output;
    const auto* bytes = reinterpret_cast<const uint8_t*>(window.UserAddress);
    for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(bytes[i], 0x7E) << i;
    EXPECT_TRUE(service.unlock(window));
}

TEST_F(HmbServMachine, FillChangesExactlyItsRange) {
    ServiceHandle service;
    StaticMemBlock window = service.lock(0, 3 * 4096);
    ASSERT_NE(window.UserAddress, 0u);
    auto* bytes = reinterpret_cast<uint8_t*>(window.UserAddress);
    std::memset(bytes, 0x11, 3 * 4096);
    ASSERT_TRUE(service.fill(4000, 200, 0xC3));
    for (uint32_t i = 0; i < 3 * 4096; ++i) {
        ASSERT_EQ(bytes[i], (i >= 4000 && i < 4200) ? 0xC3 : 0x11) << i;
    }
    // Outside the static memory: refused, nothing written.
    EXPECT_FALSE(service.fill(kSeededBytes - 10, 11, 0x00));
    EXPECT_EQ(LxGetLastNtStatus(), kInvalidParameter);
    EXPECT_FALSE(service.fill(0xFFFFFFF0u, 0x20, 0x00));  // would wrap around 32 bits
    EXPECT_EQ(bytes[0], 0x11);
    // The whole memory.
    ASSERT_TRUE(service.fill(LX_STATIC_MEM_WHOLE, LX_STATIC_MEM_WHOLE, 0x99));
    EXPECT_EQ(bytes[0], 0x99);
    EXPECT_EQ(bytes[3 * 4096 - 1], 0x99);
    EXPECT_TRUE(service.unlock(window));
}

TEST_F(HmbServMachine, WindowsOutsideOrEmptyAreNotMapped) {
    ServiceHandle service;
    const uint32_t base = service.staticBase();
    StaticMemBlock pastEnd = service.lock(kSeededBytes - 4096, 4097);
    EXPECT_TRUE(allZero(&pastEnd, sizeof pastEnd));
    StaticMemBlock wrapping = service.lock(0xFFFFF000u, 0x2000);
    EXPECT_TRUE(allZero(&wrapping, sizeof wrapping));

    StaticMemBlock empty = service.lock(kSeededBytes, 0);
    EXPECT_EQ(empty.PhysicalAddress, base + kSeededBytes);
    EXPECT_NE(empty.KernelAddress, 0u);
    EXPECT_EQ(empty.UserAddress, 0u);
    EXPECT_EQ(empty.MappingHandle, 0u);
    EXPECT_EQ(empty.Offset, 0u);
    EXPECT_EQ(empty.Length, 0u);
    EXPECT_TRUE(service.unlock(empty));  // nothing mapped: nothing to do
}

TEST_F(HmbServMachine, ForgedOrForeignRecordsUnmapAndFreeNothing) {
    ServiceHandle service;
    StaticMemBlock window = service.lock(8192, 4096);
    ASSERT_NE(window.UserAddress, 0u);
    auto* bytes = reinterpret_cast<volatile uint8_t*>(window.UserAddress);
    bytes[0] = 0x5A;

    StaticMemBlock forged = window;
    forged.MappingHandle += 8;
    EXPECT_FALSE(service.unlock(forged));
    EXPECT_EQ(LxGetLastNtStatus(), kInvalidParameter);
    forged = window;
    forged.UserAddress += 4096;
    EXPECT_FALSE(service.unlock(forged));
    EXPECT_EQ(bytes[0], 0x5A);  // still mapped

    // Another process cannot unlock it, nor free a block it was not given.
    auto foreign = hmbtest::runPeer({"raw-unlock", std::to_string(window.UserAddress),
                                     std::to_string(window.MappingHandle)});
    EXPECT_TRUE(contains(foreign.output, "raw-unlock refused")) << foreign.output;
    EXPECT_EQ(bytes[0], 0x5A);
    EXPECT_TRUE(service.unlock(window));
    EXPECT_FALSE(service.unlock(window));  // a second unlock of the same record

    // Dynamic blocks: freed only by the exact record, and only once.
    const std::string before = machine_->statusJson();
    uint32_t size = 10000;
    DynamicMemBlock block{};
    DWORD returned = 0;
    ASSERT_TRUE(service.control(IOCTL_HMB_DYNAMIC_ALLOC, &size, 4, &block, sizeof block, &returned));
    EXPECT_EQ(returned, 32u);
    ASSERT_NE(block.UserAddress, 0u);
    EXPECT_EQ(block.Size, size);
    EXPECT_NE(block.PhysicalAddress, 0u);
    EXPECT_EQ(service.physicalAddressOf(reinterpret_cast<void*>(block.UserAddress)), block.PhysicalAddress);
    std::memset(reinterpret_cast<void*>(block.UserAddress), 0xA5, size);
    EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before) + 1);

    DynamicMemBlock wrong = block;
    wrong.KernelAddress += 4096;
    EXPECT_FALSE(service.control(IOCTL_HMB_DYNAMIC_FREE, &wrong, sizeof wrong, nullptr, 0, &returned));
    wrong = block;
    wrong.UserAddress = 0;
    wrong.MappingHandle = 0;  // the kernel address alone frees nothing
    EXPECT_FALSE(service.control(IOCTL_HMB_DYNAMIC_FREE, &wrong, sizeof wrong, nullptr, 0, &returned));
    EXPECT_FALSE(service.unlock(StaticMemBlock{0, 0, block.UserAddress, 0, 0, 0, block.MappingHandle}));
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(block.UserAddress)[size - 1], 0xA5);
    foreign = hmbtest::runPeer({"raw-free", std::to_string(block.UserAddress), std::to_string(block.MappingHandle),
                                std::to_string(block.KernelAddress)});
    EXPECT_TRUE(contains(foreign.output, "raw-free refused")) << foreign.output;
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(block.UserAddress)[size - 1], 0xA5);

    EXPECT_TRUE(service.control(IOCTL_HMB_DYNAMIC_FREE, &block, sizeof block, nullptr, 0, &returned));
    EXPECT_FALSE(service.control(IOCTL_HMB_DYNAMIC_FREE, &block, sizeof block, nullptr, 0, &returned));
    EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before));
    const DynamicMemBlock nothing{};
    EXPECT_TRUE(service.control(IOCTL_HMB_DYNAMIC_FREE, &nothing, sizeof nothing, nullptr, 0, &returned));
}

// What a process was given belongs to the process, not to the handle it came
// through: a library that opens and closes the device around its calls must
// not take the caller's windows and blocks with it.
TEST_F(HmbServMachine, WindowsAndBlocksOutliveTheHandleThatMadeThem) {
    const std::string before = machine_->statusJson();
    StaticMemBlock window{};
    DynamicMemBlock block{};
    const uint32_t size = 0xd800;
    {
        ServiceHandle first;
        window = first.lock(4096, 8192);
        ASSERT_NE(window.UserAddress, 0u);
        DWORD returned = 0;
        ASSERT_TRUE(first.control(IOCTL_HMB_DYNAMIC_ALLOC, &size, 4, &block, sizeof block, &returned));
        ASSERT_NE(block.UserAddress, 0u);
    }
    // The handle is closed; both are still mapped, writable and counted.
    std::memset(reinterpret_cast<void*>(window.UserAddress), 0x6B, 8192);
    std::memset(reinterpret_cast<void*>(block.UserAddress), 0x6C, size);
    EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before) + 1);

    ServiceHandle second;
    EXPECT_EQ(second.physicalAddressOf(reinterpret_cast<void*>(block.UserAddress)), block.PhysicalAddress);
    StaticMemBlock check = second.lock(4096, 8192);
    ASSERT_NE(check.UserAddress, 0u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(check.UserAddress)[8191], 0x6B);
    // Any handle of the same process unlocks and frees them, once.
    EXPECT_TRUE(second.unlock(window));
    EXPECT_FALSE(second.unlock(window));
    DWORD returned = 0;
    EXPECT_TRUE(second.control(IOCTL_HMB_DYNAMIC_FREE, &block, sizeof block, nullptr, 0, &returned));
    EXPECT_FALSE(second.control(IOCTL_HMB_DYNAMIC_FREE, &block, sizeof block, nullptr, 0, &returned));
    EXPECT_TRUE(second.unlock(check));
    EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before));
}

TEST_F(HmbServMachine, KilledClientLeavesNoBlocksOrWindows) {
    const std::string before = machine_->statusJson();
    const uint64_t freeBefore = hmbtest::contiguousFreeBytes(before);
    {
        hmbtest::HoldingPeer peer({"load", "lock", "0", "65536", "lock", "0xFFFFFFFF", "0xFFFFFFFF", "alloc", "8192",
                                   "alloc", "55296"});
        ASSERT_TRUE(contains(peer.output(), "holding")) << peer.output();
        EXPECT_TRUE(contains(peer.output(), "alloc rc=1 mapped=1 size=55296")) << peer.output();
        EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before) + 2);
        EXPECT_LT(hmbtest::contiguousFreeBytes(machine_->statusJson()), freeBefore);
        peer.kill();
    }
    EXPECT_TRUE(hmbtest::waitForStatus(*machine_, [&](const std::string& json) {
        return hmbtest::processBlockCount(json) == hmbtest::processBlockCount(before) &&
               hmbtest::contiguousFreeBytes(json) == freeBefore;
    })) << machine_->statusJson();
}

// With LX_TRACE=1 a refused device request leaves one line on standard
// error naming the request and its status; without it, nothing.
TEST_F(HmbServMachine, RefusedRequestsAreTracedOnlyWhenAskedFor) {
    ServiceHandle service;
    ASSERT_TRUE(service.valid());
    auto refusedRequestTrace = [&](const char* trace) {
        if (trace != nullptr) {
            setenv("LX_TRACE", trace, 1);
        } else {
            unsetenv("LX_TRACE");
        }
        std::fflush(stderr);
        const std::string file = testing::TempDir() + "hmb-trace-" + std::to_string(getpid());
        const int saved = dup(2);
        const int redirected = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        dup2(redirected, 2);
        uint32_t base = 0;
        DWORD returned = 0;
        const bool ok = service.control(IOCTL_HMB_STATIC_BASE, &base, 1, &base, sizeof base, &returned);
        dup2(saved, 2);
        close(saved);
        close(redirected);
        unsetenv("LX_TRACE");
        EXPECT_FALSE(ok) << "an input where none belongs";
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        unlink(file.c_str());
        return text.str();
    };
    char expected[96];
    std::snprintf(expected, sizeof expected, "lx: device request 0x%08X refused by the device: NTSTATUS 0xC000000D\n",
                  static_cast<uint32_t>(IOCTL_HMB_STATIC_BASE));
    EXPECT_EQ(refusedRequestTrace("1"), expected);
    EXPECT_EQ(refusedRequestTrace(nullptr), "");
    EXPECT_EQ(refusedRequestTrace("0"), "");
}

TEST_F(HmbServMachine, TranslationOfAddressesOutsideAnyViewAnswersZero) {
    ServiceHandle service;
    int local = 0;
    EXPECT_EQ(service.physicalAddressOf(&local), 0u);
    EXPECT_EQ(service.physicalAddressOf(nullptr), 0u);
}

// Changes the machine: runs last in this suite, restores the installed size.
TEST_F(HmbServMachine, WithoutASizeNothingIsReserved) {
    ASSERT_TRUE(hmbtest::deleteParameter("RequiredMemorySize"));
    ASSERT_TRUE(machine_->reboot());
    {
        uint32_t returnValue = 0, pages = 0;
        ASSERT_TRUE(hmbtest::readParameter("ReturnValue", &returnValue));
        EXPECT_EQ(returnValue, 1u);
        EXPECT_FALSE(hmbtest::readParameter("RequiredMemorySize", &pages));  // a reboot does not reinstall it
        ServiceHandle service;
        ASSERT_TRUE(service.valid());
        EXPECT_EQ(service.staticBase(), 0u);
        for (auto [offset, length] : {std::pair{0u, 0u}, {0u, 1u}, {LX_STATIC_MEM_WHOLE, LX_STATIC_MEM_WHOLE}}) {
            StaticMemBlock block = service.lock(offset, length);
            EXPECT_TRUE(allZero(&block, sizeof block));
        }
        EXPECT_TRUE(service.fill(0, 0, 1));  // an empty fill of no memory
        EXPECT_FALSE(service.fill(0, 1, 1));
    }
    // A size the machine cannot give fails the reservation: ReturnValue 0.
    ASSERT_TRUE(hmbtest::writeParameter("RequiredMemorySize", 1u << 20));
    ASSERT_TRUE(machine_->reboot());
    {
        uint32_t returnValue = 7;
        ASSERT_TRUE(hmbtest::readParameter("ReturnValue", &returnValue));
        EXPECT_EQ(returnValue, 0u);
        ServiceHandle service;
        EXPECT_EQ(service.staticBase(), 0u);
    }
    ASSERT_TRUE(hmbtest::writeParameter("RequiredMemorySize", 4096));
    ASSERT_TRUE(machine_->reboot());
    ServiceHandle service;
    EXPECT_NE(service.staticBase(), 0u);
}

// The display adapter behind a bridge: bus 0 is scanned whole, bus 1 found.
TEST(HmbServDisplayScan, FindsTheAdapterOnBusOne) {
    StackMachine machine(std::string(hmbtest::kFastMachine) + "[display]\nbus = 1\n");
    ASSERT_TRUE(machine.booted());
    ASSERT_TRUE(contains(machine.statusJson(), "\"bus\":1,\"device\":0,\"function\":0,\"vendor\":\"0x4C58\","
                                               "\"deviceId\":\"0x0D15\",\"class\":\"0x0300\""))
        << machine.statusJson();
    ServiceHandle service;
    uint32_t ids[2] = {1, 1};
    DWORD returned = 0;
    ASSERT_TRUE(service.control(IOCTL_HMB_FIND_DISPLAY_ADAPTER, nullptr, 0, ids, sizeof ids, &returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(ids[0], 0x4C58u);
    EXPECT_EQ(ids[1], 0x0D15u);
}

}  // namespace
