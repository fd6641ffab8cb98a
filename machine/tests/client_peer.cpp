// A second process for the compat-layer tests: opens, writes, reads or holds
// machine objects as told on its command line.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "fake_kernel.h"

namespace {

int fail(const char* what) {
    std::printf("failed %s %u\n", what, static_cast<unsigned>(GetLastError()));
    return 1;
}

int writeMapping(const char* name, const char* text) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping) return fail("open");
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!view) return fail("map");
    std::strcpy(view, text);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 0;
}

int readMapping(const char* name) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!mapping) return fail("open");
    auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    if (!view) return fail("map");
    std::printf("%s", view);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 0;
}

// Takes handles and views of every kind, says "ready", then waits to be killed.
int hold() {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, "HeldMap");
    if (!mapping) return fail("mapping");
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return fail("view");
    if (!CreateMutexA(nullptr, TRUE, "HeldMutex")) return fail("mutex");
    HANDLE device = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return fail("device");
    uint8_t request[17] = {};
    uint64_t physical = lxm::testing::kFakeRamBase + 0x3000, length = 4096;
    std::memcpy(request, &physical, 8);
    std::memcpy(request + 8, &length, 8);
    uint64_t address = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(device, lxm::testing::kIoctlMap, request, 17, &address, 8, &returned, nullptr))
        return fail("ioctl");
    std::printf("ready\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 2;
}

// Opens the echo device, says "ready" and sends a request that pends until
// the handle closes: it sits in the machine until the process is killed.
int block() {
    HANDLE device = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return fail("device");
    std::printf("ready\n");
    std::fflush(stdout);
    DWORD returned = 0;
    DeviceIoControl(device, lxm::testing::kIoctlBlock, nullptr, 0, nullptr, 0, &returned, nullptr);
    return 2;
}

int probe() {
    HANDLE device = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return fail("open");
    CloseHandle(device);
    std::printf("opened\n");
    return 0;
}

int version() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return fail("version");
    std::printf("%u.%u\n", static_cast<unsigned>(info.dwMajorVersion), static_cast<unsigned>(info.dwMinorVersion));
    return 0;
}

// Installs a kernel driver service started at boot (takes effect at the next boot).
int installService(const char* name, const char* image) {
    const std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return fail("key");
    DWORD one = 1;
    bool ok = RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == ERROR_SUCCESS &&
              RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == ERROR_SUCCESS &&
              RegSetValueExA(key, "ImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(image),
                             static_cast<DWORD>(std::strlen(image) + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok) return fail("value");
    std::printf("installed\n");
    return 0;
}

// Opens a device and sends it one control code without data.
int sendControl(const char* path, const char* code) {
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return fail("open");
    std::printf("opened\n");
    std::fflush(stdout);
    DWORD returned = 0;
    if (!DeviceIoControl(device, static_cast<DWORD>(std::strtoul(code, nullptr, 0)), nullptr, 0, nullptr, 0,
                         &returned, nullptr))
        return fail("control");
    CloseHandle(device);
    std::printf("done\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 4) return writeMapping(argv[2], argv[3]);
    if (mode == "read" && argc == 3) return readMapping(argv[2]);
    if (mode == "hold") return hold();
    if (mode == "block") return block();
    if (mode == "probe") return probe();
    if (mode == "version") return version();
    if (mode == "service" && argc == 4) return installService(argv[2], argv[3]);
    if (mode == "control" && argc == 4) return sendControl(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: client_peer write NAME TEXT | read NAME | hold | block | probe | version | service NAME IMAGE |"
                 " control PATH CODE\n");
    return 2;
}
