// The machine with its real kernel and the static-memory driver: requests
// from a process reach the driver, its errors come back as Windows reports
// them, and memory the driver maps lands in the process.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"
#include "private_machine.h"

using namespace lxm::testing;

namespace {

const std::string kTool = LX_REAL_TOOL;
const std::string kPeer = LX_CLIENT_PEER;
const char* kParameters = "SYSTEM\\CurrentControlSet\\Services\\HMBServ\\Parameters";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

BOOL control(HANDLE h, uint32_t code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return DeviceIoControl(h, code, in, inSize, out, outSize, returned, nullptr);
}

TEST(RealKernel, StaticMemoryServiceThroughTheMachine) {
    ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
    PrivateMachine machine(kTool, "terncard = []\n[clock]\nfactor = 20.0\n");
    ASSERT_TRUE(machine.boot()) << machine.lxmachine({"status"}).output;

    // The reservation size is read by the driver when it starts: set it, then reboot.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD pages = 64;
    ASSERT_EQ(RegSetValueExA(key, "RequiredMemorySize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&pages), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(machine.lxmachine({"reboot"}).exitStatus, 0);

    HANDLE h = CreateFileA("\\\\.\\HMBSERV", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD returned = 0;
    uint32_t base = 0;
    ASSERT_TRUE(control(h, IOCTL_HMB_STATIC_BASE, nullptr, 0, &base, 4, &returned));
    EXPECT_EQ(returned, 4u);
    ASSERT_NE(base, 0u);

    // The driver checks lengths exactly; the NT status maps to the Win32 error.
    uint64_t wide = 0;
    EXPECT_FALSE(control(h, IOCTL_HMB_STATIC_BASE, nullptr, 0, &wide, 8, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), 0xC000000Du);
    EXPECT_FALSE(control(h, 0x80002FFC, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    StaticMemBlock window{};
    window.Offset = 4096;
    window.Length = 8192;
    ASSERT_TRUE(control(h, IOCTL_HMB_STATIC_LOCK, &window, sizeof window, &window, sizeof window, &returned));
    ASSERT_NE(window.UserAddress, 0u);
    EXPECT_EQ(window.PhysicalAddress, base + 4096);
    auto* bytes = reinterpret_cast<uint8_t*>(window.UserAddress);
    for (int i = 0; i < 8192; ++i) bytes[i] = static_cast<uint8_t>(i * 3);

    // A second window over the same memory sees the bytes: both are the machine's RAM.
    StaticMemBlock whole{};
    whole.Offset = 0;
    whole.Length = 3 * 4096;
    ASSERT_TRUE(control(h, IOCTL_HMB_STATIC_LOCK, &whole, sizeof whole, &whole, sizeof whole, &returned));
    ASSERT_NE(whole.UserAddress, 0u);
    EXPECT_NE(whole.UserAddress, window.UserAddress);
    auto* again = reinterpret_cast<const uint8_t*>(whole.UserAddress) + 4096;
    EXPECT_EQ(std::memcmp(again, bytes, 8192), 0);

    uint64_t address = window.UserAddress + 100;
    uint32_t physical = 0;
    ASSERT_TRUE(control(h, IOCTL_HMB_PHYSICAL_ADDRESS, &address, 8, &physical, 4, &returned));
    EXPECT_EQ(physical, base + 4096 + 100);

    std::string json = machine.statusJson();
    EXPECT_TRUE(contains(json, "\"address\":" + std::to_string(window.UserAddress) +
                                   ",\"length\":8192,\"physical\":" + std::to_string(base + 4096)))
        << json;

    ASSERT_TRUE(control(h, IOCTL_HMB_STATIC_UNLOCK, &window, sizeof window, nullptr, 0, &returned));
    ASSERT_TRUE(control(h, IOCTL_HMB_STATIC_UNLOCK, &whole, sizeof whole, nullptr, 0, &returned));
    json = machine.statusJson();
    EXPECT_FALSE(contains(json, "\"address\":" + std::to_string(window.UserAddress))) << json;
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(machine.shutdown());
}

TEST(RealKernel, ClientBootsTheMachineWithTheToolBesideTheLibraries) {
    std::string dir = makePrivateDirectory();
    std::vector<std::string> env = {"LX_MACHINE=" + dir, "LX_MACHINE_TOOL=", "LX_MACHINE_NO_AUTOBOOT="};
    ToolResult first = runProgram({kPeer, "version"}, 120, env);
    EXPECT_EQ(first.output, "10.0\n");
    ToolResult status = runProgram({kTool, "status", "--dir", dir});
    EXPECT_EQ(status.exitStatus, 0) << status.output;
    EXPECT_TRUE(contains(status.output, "running at " + dir)) << status.output;
    EXPECT_EQ(runProgram({kTool, "shutdown", "--dir", dir}).exitStatus, 0);
    removeTree(dir);
}

}  // namespace
