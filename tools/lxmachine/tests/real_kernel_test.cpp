// The machine with its real kernel and the static-memory driver: requests
// from a process reach the driver, its errors come back as Windows reports
// them, and memory the driver maps lands in the process.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"
#include "faulty_driver_protocol.h"
#include "private_machine.h"

using namespace lxm::testing;

namespace {

const std::string kTool = LX_REAL_TOOL;
const std::string kPeer = LX_CLIENT_PEER;
const std::string kFaultyDriver = LX_NT_FAULTY_DRIVER;
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

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string hexCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

TEST(RealKernel, AnUnusableImageSourceRefusesTheBootAndARunTimeOneKeepsTheOldSource) {
    const std::string pictures = makePrivateDirectory();
    { std::ofstream(pictures + "/frame1.png") << "not a PNG"; }
    PrivateMachine machine(kTool, "[clock]\nfactor = 20.0\n[[terncard]]\nsources = [\"none\", \"image:" + pictures +
                                      "\", \"none\", \"bars\"]\n");
    ToolResult boot = machine.lxmachine({"boot"});
    EXPECT_NE(boot.exitStatus, 0);
    const std::string message = "TernCard 1 input 1: " + pictures + "/frame1.png";
    EXPECT_TRUE(contains(boot.output, message)) << boot.output;
    EXPECT_TRUE(contains(fileText(machine.directory() + "/daemon.log"), message));
    EXPECT_NE(machine.lxmachine({"status"}).exitStatus, 0);  // nothing left running

    // Once the configuration is usable the machine boots; a bad source at run time is refused.
    machine.writeConfig("[clock]\nfactor = 20.0\n[[terncard]]\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n");
    ASSERT_TRUE(machine.boot()) << machine.lxmachine({"status"}).output;
    ToolResult missing = machine.lxmachine({"source", "1", "3", "image:/nonexistent"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_TRUE(contains(missing.output, "/nonexistent: no such file or directory")) << missing.output;
    EXPECT_TRUE(contains(missing.output, "card 1 input 3 keeps its source")) << missing.output;
    EXPECT_EQ(machine.lxmachine({"source", "1", "3", "stamp:7"}).exitStatus, 0);  // the card still takes good ones
    EXPECT_TRUE(machine.shutdown());
    removeTree(pictures);
}

TEST(RealKernel, ADriverFaultStopsTheMachineWithARecordAndTheNextBootIsClean) {
    PrivateMachine machine(kTool, "terncard = []\n[clock]\nfactor = 20.0\n");
    ASSERT_TRUE(machine.boot()) << machine.lxmachine({"status"}).output;
    const std::string dir = machine.directory();
    const std::vector<std::string> env = {"LX_MACHINE=" + dir, "LX_MACHINE_NO_AUTOBOOT=1"};
    ToolResult installed = runProgram({kPeer, "service", "NtFaulty", kFaultyDriver}, 120, env);
    ASSERT_EQ(installed.exitStatus, 0) << installed.output;
    ASSERT_EQ(machine.lxmachine({"reboot"}).exitStatus, 0);

    ToolResult crashed = runProgram({kPeer, "control", "\\\\.\\NtFaulty", hexCode(nttest::kFaultNullDereference)}, 120, env);
    EXPECT_TRUE(contains(crashed.output, "opened")) << crashed.output;
    EXPECT_FALSE(contains(crashed.output, "done")) << crashed.output;

    ToolResult status;
    for (int i = 0; i < 200; ++i) {
        status = machine.lxmachine({"status"});
        if (status.exitStatus != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(status.exitStatus, 1);
    EXPECT_TRUE(contains(status.output, "no machine running at " + dir + ": it stopped on a bug check")) << status.output;
    EXPECT_TRUE(contains(status.output, "STOP 0x0000001E KMODE_EXCEPTION_NOT_HANDLED in driver NtFaulty, routine "
                                        "IRP_MJ_DEVICE_CONTROL: access violation"))
        << status.output;

    const std::string record = fileText(dir + "/crash.json");
    EXPECT_TRUE(contains(record, "{\"code\":\"0x0000001E\",\"name\":\"KMODE_EXCEPTION_NOT_HANDLED\","
                                 "\"parameters\":[\"0xc0000005\",")) << record;
    EXPECT_TRUE(contains(record, "\"driver\":\"NtFaulty\",\"routine\":\"IRP_MJ_DEVICE_CONTROL\"")) << record;
    EXPECT_TRUE(contains(record, "\"stack\":[\"")) << record;
    EXPECT_TRUE(contains(record, "faultydriver.so+0x")) << record;  // the faulting frame
    ToolResult json = machine.lxmachine({"status", "--json"});
    EXPECT_TRUE(contains(json.output, "{\"running\":false,\"crash\":{\"code\":\"0x0000001E\"")) << json.output;
    const std::string log = fileText(dir + "/daemon.log");
    EXPECT_TRUE(contains(log, "*** STOP 0x0000001E (0xc0000005, ")) << log;
    EXPECT_TRUE(contains(log, "*** driver NtFaulty, routine IRP_MJ_DEVICE_CONTROL: access violation")) << log;

    // The next boot starts clean and keeps the record beside.
    ASSERT_TRUE(machine.boot()) << machine.lxmachine({"status"}).output;
    EXPECT_EQ(machine.lxmachine({"status"}).exitStatus, 0);
    EXPECT_FALSE(std::ifstream(dir + "/crash.json").good());
    EXPECT_EQ(fileText(dir + "/crash.previous.json"), record);
    ToolResult echo = runProgram({kPeer, "control", "\\\\.\\NtFaulty", hexCode(nttest::kFaultEcho)}, 120, env);
    EXPECT_TRUE(contains(echo.output, "done")) << echo.output;
    EXPECT_TRUE(machine.shutdown());
}

}  // namespace
