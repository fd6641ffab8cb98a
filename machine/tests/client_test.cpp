// The compat layer's machine client against a private machine with the test
// kernel: device I/O and its errors, cancel, memory mapped by a driver,
// SetupAPI, the registry, named objects across processes, process death,
// version and autoboot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "fake_kernel.h"
#include "private_machine.h"

using namespace lxm::testing;

extern char** environ;

namespace {

const std::string kTool = LX_FAKE_TOOL;
const std::string kPeer = LX_CLIENT_PEER;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class MachineClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
        machine_ = new PrivateMachine(kTool);
        ASSERT_TRUE(machine_->boot());
    }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }

    static HANDLE openEcho() {
        return CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // Waits (bounded) until the status report no longer names the process.
    static bool waitUntilGone(int pid) {
        for (int i = 0; i < 500; ++i) {
            if (!contains(machine_->statusJson(), "\"pid\":" + std::to_string(pid) + ",")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Starts the peer program with `command` and waits (bounded) for its
    // "ready" line. Returns its pid, or 0 with `failure` set (a peer that
    // started but is not ready is killed).
    static pid_t startReadyPeer(const char* command, std::string* failure) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            *failure = "no pipe";
            return 0;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {const_cast<char*>(kPeer.c_str()), const_cast<char*>(command), nullptr};
        pid_t peer = 0;
        const bool spawned = ::posix_spawn(&peer, kPeer.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        pollfd p{out[0], POLLIN, 0};
        char line[64] = {};
        const bool answered = spawned && ::poll(&p, 1, 30000) == 1 && ::read(out[0], line, sizeof line - 1) > 0;
        ::close(out[0]);
        if (answered && std::string(line) == "ready\n") return peer;
        *failure = !spawned ? "the peer did not start" : "the peer said \"" + std::string(line) + "\", not ready";
        if (spawned) {
            ::kill(peer, SIGKILL);
            ::waitpid(peer, nullptr, 0);
        }
        return 0;
    }

    static PrivateMachine* machine_;
};
PrivateMachine* MachineClient::machine_ = nullptr;

TEST_F(MachineClient, DeviceIoControlReturnsExactBytes) {
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t input[5] = {1, 2, 3, 4, 5};
    uint8_t output[8];
    std::memset(output, 0xCC, sizeof output);
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(h, kIoctlEcho, input, 5, output, 8, &returned, nullptr));
    EXPECT_EQ(returned, 5u);
    EXPECT_EQ(std::memcmp(output, input, 5), 0);
    EXPECT_EQ(output[5], 0xCC);  // nothing beyond what the driver returned
    EXPECT_EQ(LxGetLastNtStatus(), 0);

    uint8_t big[100000];
    for (size_t i = 0; i < sizeof big; ++i) big[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> back(sizeof big);
    ASSERT_TRUE(DeviceIoControl(h, kIoctlEcho, big, sizeof big, back.data(), sizeof big, &returned, nullptr));
    EXPECT_EQ(returned, sizeof big);
    EXPECT_EQ(std::memcmp(back.data(), big, sizeof big), 0);

    DWORD count = 0;
    char buffer[4];
    ASSERT_TRUE(ReadFile(h, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(buffer[3], 0x5A);
    ASSERT_TRUE(WriteFile(h, "abc", 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(MachineClient, FailuresMapToWin32ErrorsAndKeepTheNtStatus) {
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t input[8] = {}, output[8] = {};
    DWORD returned = 77;

    EXPECT_FALSE(DeviceIoControl(h, kIoctlEcho, input, 8, output, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), 0xC0000023u);
    EXPECT_EQ(returned, 0u);

    EXPECT_FALSE(DeviceIoControl(h, kIoctlExact, input, 3, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), 0xC000000Du);
    EXPECT_TRUE(DeviceIoControl(h, kIoctlExact, input, 4, nullptr, 0, &returned, nullptr));

    EXPECT_FALSE(DeviceIoControl(h, 0x80002FFC, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), 0xC0000010u);

    // A warning status still copies its data back, and fails with ERROR_MORE_DATA.
    EXPECT_FALSE(DeviceIoControl(h, kIoctlWarning, nullptr, 0, output, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(output[7], 0xAB);

    // Caller errors never reach the machine.
    EXPECT_FALSE(DeviceIoControl(h, kIoctlEcho, input, 8, output, 8, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(DeviceIoControl(h, kIoctlEcho, nullptr, 8, output, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(DeviceIoControl(h, kIoctlEcho, input, 1, output, 1, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(h));

    HANDLE missing = CreateFileA("\\\\.\\NOSUCHDEVICE", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(missing, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), 0xC0000034u);
}

TEST_F(MachineClient, CloseHandleOnAnotherThreadCancelsAPendingRequest) {
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BOOL ok = TRUE;
    DWORD error = 0;
    LONG status = 0;
    std::thread pending([&] {
        DWORD returned = 0;
        ok = DeviceIoControl(h, kIoctlBlock, nullptr, 0, nullptr, 0, &returned, nullptr);
        error = GetLastError();
        status = LxGetLastNtStatus();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(CloseHandle(h));
    pending.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(static_cast<uint32_t>(status), 0xC0000120u);
}

TEST_F(MachineClient, DriverMapsMachineMemoryIntoTheCaller) {
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const uint64_t physical = kFakeRamBase + 0x5010;  // not page aligned on purpose
    const uint64_t length = 0x2000;
    uint8_t request[17];
    std::memcpy(request, &physical, 8);
    std::memcpy(request + 8, &length, 8);
    request[16] = 0x5C;  // the driver fills the range before mapping it
    uint64_t address = 0;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(h, kIoctlMap, request, 17, &address, 8, &returned, nullptr));
    ASSERT_NE(address, 0u);
    auto* bytes = reinterpret_cast<volatile uint8_t*>(address);
    EXPECT_EQ(bytes[0], 0x5C);
    EXPECT_EQ(bytes[length - 1], 0x5C);

    uint64_t probe = address + 0x123, answer = 0;
    ASSERT_TRUE(DeviceIoControl(h, kIoctlPhysical, &probe, 8, &answer, 8, &returned, nullptr));
    EXPECT_EQ(answer, physical + 0x123);
    probe = address + length;
    ASSERT_TRUE(DeviceIoControl(h, kIoctlPhysical, &probe, 8, &answer, 8, &returned, nullptr));
    EXPECT_EQ(answer, 0u);

    std::string json = machine_->statusJson();
    EXPECT_TRUE(contains(json, "{\"address\":" + std::to_string(address) + ",\"length\":8192,\"physical\":" +
                                   std::to_string(physical)))
        << json;

    // Memory outside the machine is refused; the driver reports the failure.
    uint64_t outside = 0x1000;
    std::memcpy(request, &outside, 8);
    EXPECT_FALSE(DeviceIoControl(h, kIoctlMap, request, 17, &address + 0, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES));

    ASSERT_TRUE(DeviceIoControl(h, kIoctlUnmap, &address, 8, nullptr, 0, &returned, nullptr) ||
                address == 0);
    EXPECT_FALSE(contains(machine_->statusJson(), "\"physical\":" + std::to_string(physical)));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(MachineClient, SetupApiEnumeratesAndOpensInterfaces) {
    const GUID cls = {0x8B0B849E, 0x5BA2, 0x4DAE, {0x88, 0xDA, 0xCF, 0x4A, 0xC9, 0x9D, 0xAA, 0x37}};
    HDEVINFO list = SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 31;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &cls, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &cls, 0, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &cls, 1, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::string path = "\\\\?\\PCI#FAKE_ECHO#1#{8b0b849e-5ba2-4dae-88da-cf4ac99daa37}";
    EXPECT_EQ(required, 4 + path.size() + 1);
    std::vector<uint8_t> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = required;  // the size of the fixed part is expected, not of the buffer
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);

    HANDLE h = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));

    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    HDEVINFO empty = SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(empty, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(empty, nullptr, &other, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(empty));
    EXPECT_EQ(SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
}

TEST_F(MachineClient, RegistrySizeProtocolAccessAndPersistence) {
    const char* path = "SYSTEM\\CurrentControlSet\\Services\\HMBServ\\Parameters";
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    DWORD pages = 0x1234;
    ASSERT_EQ(RegSetValueExA(key, "RequiredMemorySize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&pages), 4),
              ERROR_SUCCESS);
    const char text[] = "hello";
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &reader), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(reader, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    char small[3] = {'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(reader, "Name", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    char full[16] = {};
    size = sizeof full;
    ASSERT_EQ(RegQueryValueExA(reader, "Name", nullptr, &type, reinterpret_cast<BYTE*>(full), &size), ERROR_SUCCESS);
    EXPECT_STREQ(full, "hello");
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(RegQueryValueExA(reader, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // Opened for reading: no writing.
    EXPECT_EQ(RegSetValueExA(reader, "RequiredMemorySize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&pages), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(reader, "Name"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);

    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\NoSuchKey", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);

    // Values survive a reboot and a shutdown with a new boot.
    ASSERT_EQ(machine_->lxmachine({"reboot"}).exitStatus, 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    DWORD value = 0;
    size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "RequiredMemorySize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegDeleteValueA(key, "Name"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Name"), ERROR_FILE_NOT_FOUND);

    const char again[] = "stored";
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(again), sizeof again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_TRUE(machine_->shutdown());
    // Strings are kept as Windows keeps them, in UTF-16LE with the terminating zero.
    std::ifstream saved(machine_->directory() + "/registry.dat");
    std::string registry((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(registry, "\t=Name\t1\t730074006f00720065006400" "0000")) << registry;
    ASSERT_TRUE(machine_->boot());
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS);
    value = 0;
    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "RequiredMemorySize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 0x1234u);
    char stored[8] = {};
    size = sizeof stored;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(stored), &size), ERROR_SUCCESS);
    EXPECT_STREQ(stored, "stored");
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(MachineClient, ForkedChildAttachesAsAProcessOfItsOwn) {
    HANDLE h = openEcho();  // the parent is attached and has a thread connection
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE mine = openEcho();
        uint8_t byte = 0x42, back = 0;
        DWORD returned = 0;
        bool ok = mine != INVALID_HANDLE_VALUE &&
                  DeviceIoControl(mine, kIoctlEcho, &byte, 1, &back, 1, &returned, nullptr) && back == 0x42;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The parent's connection was not disturbed by the child.
    uint8_t byte = 7, back = 0;
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(h, kIoctlEcho, &byte, 1, &back, 1, &returned, nullptr));
    EXPECT_EQ(back, 7);
    EXPECT_TRUE(CloseHandle(h));
}

// Libraries detach at exit after the main thread's thread-local objects are
// gone; their last requests must still reach the machine, and a request that
// cannot reach it must leave the process's attachment intact.
int exitReport = -1;
HANDLE exitMapping = nullptr;
bool exitMachineReachable = true;

void requestsAfterThreadObjectsEnded() {
    if (!exitMachineReachable) {
        // This thread's next connection fails: the machine is looked for elsewhere.
        ::setenv("LX_MACHINE", "/nonexistent/lxmachine", 1);
    }
    uint8_t byte = 0x5C, back = 0;
    DWORD returned = 0;
    HANDLE h = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool echoed = h != INVALID_HANDLE_VALUE &&
                        DeviceIoControl(h, kIoctlEcho, &byte, 1, &back, 1, &returned, nullptr) && back == 0x5C;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    // Closing a named object asks whether the attachment is still alive.
    const bool mappingClosed = CloseHandle(exitMapping);
    const char report = echoed == exitMachineReachable && mappingClosed ? 'y' : 'n';
    [[maybe_unused]] ssize_t written = ::write(exitReport, &report, 1);
}

// A child that uses the machine, then exits through its exit handlers.
char exitingChildReport(bool machineReachable, int* status) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return 0;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        exitReport = pipeEnds[1];
        exitMachineReachable = machineReachable;
        ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
        HANDLE h = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);  // a thread connection
        exitMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "ExitMapping");
        if (h == INVALID_HANDLE_VALUE || exitMapping == nullptr) _exit(2);
        std::atexit(requestsAfterThreadObjectsEnded);  // runs after the thread-local destructors
        std::exit(0);
    }
    ::close(pipeEnds[1]);
    char report = 0;
    if (child < 0 || ::read(pipeEnds[0], &report, 1) != 1) report = 0;
    ::close(pipeEnds[0]);
    if (child > 0) ::waitpid(child, status, 0);
    return report;
}

TEST_F(MachineClient, RequestsDuringExitStillReachTheMachine) {
    for (const bool reachable : {true, false}) {
        int status = -1;
        EXPECT_EQ(exitingChildReport(reachable, &status), 'y') << "machine reachable: " << reachable;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
}

TEST_F(MachineClient, HandlesOfAnEarlierBootAreVoid) {
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(machine_->lxmachine({"reboot"}).exitStatus, 0);
    uint8_t byte = 1;
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(h, kIoctlEcho, &byte, 1, &byte, 1, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(h));
    // New requests attach to the new boot.
    HANDLE fresh = openEcho();
    EXPECT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeviceIoControl(fresh, kIoctlEcho, &byte, 1, &byte, 1, &returned, nullptr));
    EXPECT_TRUE(CloseHandle(fresh));
}

TEST_F(MachineClient, TwoProcessesShareANamedMapping) {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "SharedCounts");
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    std::strcpy(view, "from the test");

    ToolResult read = runProgram({kPeer, "read", "SharedCounts"});
    EXPECT_EQ(read.exitStatus, 0);
    EXPECT_EQ(read.output, "from the test");
    ToolResult write = runProgram({kPeer, "write", "SharedCounts", "from the peer"});
    EXPECT_EQ(write.exitStatus, 0) << write.output;
    EXPECT_STREQ(view, "from the peer");

    HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "SharedCounts");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    auto* second = static_cast<char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 16));
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "from the peer");
    EXPECT_EQ(MapViewOfFile(again, FILE_MAP_READ, 0, 4096, 0), nullptr);
    EXPECT_EQ(MapViewOfFile(again, FILE_MAP_READ, 0, 100, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
    EXPECT_TRUE(contains(machine_->statusJson(), "\"name\":\"SharedCounts\",\"kind\":\"mapping\",\"size\":4096,\"handles\":2"));

    EXPECT_TRUE(UnmapViewOfFile(second));
    EXPECT_FALSE(UnmapViewOfFile(second));
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(mapping));
    // The last handle is gone, so is the object.
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "SharedCounts"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(contains(machine_->statusJson(), "SharedCounts"));
    ToolResult late = runProgram({kPeer, "read", "SharedCounts"});
    EXPECT_EQ(late.output, "failed open 2\n");
}

TEST_F(MachineClient, KilledProcessLeavesTheMachineRunningAndItsResourcesReleased) {
    std::string failure;
    const pid_t peer = startReadyPeer("hold", &failure);
    ASSERT_GT(peer, 0) << failure;

    std::string json = machine_->statusJson();
    const std::string client = "\"pid\":" + std::to_string(peer) + ",\"views\":[{";
    EXPECT_TRUE(contains(json, client)) << json;
    EXPECT_TRUE(contains(json, "\"name\":\"HeldMap\",\"kind\":\"mapping\"")) << json;
    EXPECT_TRUE(contains(json, "\"openFiles\":1")) << json;

    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "HeldMutex");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);

    ASSERT_EQ(::kill(peer, SIGKILL), 0);
    ::waitpid(peer, nullptr, 0);
    ASSERT_TRUE(waitUntilGone(peer));
    json = machine_->statusJson();
    EXPECT_FALSE(contains(json, "HeldMap")) << json;
    EXPECT_TRUE(contains(json, "\"openFiles\":0")) << json;
    // The mutex it owned is abandoned to the next waiter.
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_EQ(machine_->lxmachine({"status"}).exitStatus, 0);
}

TEST_F(MachineClient, KilledWhileARequestSitsInItsChannelTheMachineReleasesIt) {
    std::string failure;
    const pid_t peer = startReadyPeer("block", &failure);
    ASSERT_GT(peer, 0) << failure;

    // The request was taken from the shared area and waits in the driver.
    const std::string client = "\"pid\":" + std::to_string(peer) + ",";
    std::string json;
    bool pending = false;
    for (int i = 0; i < 500 && !pending; ++i) {
        json = machine_->statusJson();
        const size_t at = json.find(client);
        pending = at != std::string::npos && json.find("\"channelRequests\":1}", at) != std::string::npos;
        if (!pending) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(pending) << json;
    EXPECT_TRUE(contains(json, "\"openFiles\":1")) << json;

    ASSERT_EQ(::kill(peer, SIGKILL), 0);
    ::waitpid(peer, nullptr, 0);
    ASSERT_TRUE(waitUntilGone(peer));
    json = machine_->statusJson();
    EXPECT_TRUE(contains(json, "\"openFiles\":0")) << json;
    EXPECT_FALSE(contains(json, "\"channelRequests\":1")) << json;
    // The machine serves on.
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t byte = 7, back = 0;
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(h, kIoctlEcho, &byte, 1, &back, 1, &returned, nullptr));
    EXPECT_EQ(back, 7);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(MachineClient, MutexBelongsToAThread) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "OwnedByMain");
    ASSERT_NE(mutex, nullptr);
    DWORD otherResult = 0, releaseError = 0;
    BOOL released = TRUE;
    std::thread other([&] {
        otherResult = WaitForSingleObject(mutex, 50);
        released = ReleaseMutex(mutex);
        releaseError = GetLastError();
    });
    other.join();
    EXPECT_EQ(otherResult, WAIT_TIMEOUT);
    EXPECT_FALSE(released);
    EXPECT_EQ(releaseError, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // recursive for its owner
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread taker([&] { otherResult = WaitForSingleObject(mutex, 5000); });
    taker.join();
    // The thread ended while owning it: abandoned.
    EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(MachineClient, VersionFollowsTheOsSettings) {
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.dwMajorVersion, 10u);
    EXPECT_EQ(ex.dwMinorVersion, 0u);
    EXPECT_EQ(ex.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
    OSVERSIONINFOA plain{};
    plain.dwOSVersionInfoSize = sizeof plain - 1;
    EXPECT_FALSE(GetVersionExA(&plain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    machine_->writeConfig("[os]\nversion = \"6.1\"\nworkstation = false\n");
    ASSERT_EQ(machine_->lxmachine({"reboot"}).exitStatus, 0);
    plain.dwOSVersionInfoSize = sizeof plain;
    ASSERT_TRUE(GetVersionExA(&plain));
    EXPECT_EQ(plain.dwMajorVersion, 6u);
    EXPECT_EQ(plain.dwMinorVersion, 1u);
    EXPECT_EQ(plain.dwBuildNumber, 7601u);
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.wProductType, VER_NT_SERVER);
    machine_->writeConfig(std::string());
    ASSERT_EQ(machine_->lxmachine({"reboot"}).exitStatus, 0);
}

TEST(MachineAutoboot, ClientBootsAMissingMachineUnlessTurnedOff) {
    std::string dir = makePrivateDirectory();
    std::vector<std::string> env = {"LX_MACHINE=" + dir, "LX_MACHINE_TOOL=" + kTool};
    env.push_back("LX_MACHINE_NO_AUTOBOOT=1");
    ToolResult off = runProgram({kPeer, "probe"}, 60, env);
    EXPECT_EQ(off.output, "failed open 1167\n");
    EXPECT_EQ(runProgram({kTool, "status", "--dir", dir}).exitStatus, 1);

    env.back() = "LX_MACHINE_NO_AUTOBOOT=";
    ToolResult on = runProgram({kPeer, "probe"}, 120, env);
    EXPECT_EQ(on.output, "opened\n");
    EXPECT_EQ(runProgram({kTool, "status", "--dir", dir}).exitStatus, 0);
    EXPECT_EQ(runProgram({kTool, "shutdown", "--dir", dir}).exitStatus, 0);
    removeTree(dir);
}

}  // namespace
