// GetVersionExA, from the machine's [os] settings.
#include <windows.h>

#include <cstring>

#include "machine_session.h"

using namespace lx::win32::client;

WIN32_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto reply = callMachine(lxm::wire::Op::Version, {});
    lxm::wire::VersionRecord version{};
    if (!reply || reply->status != 0 || reply->data.size() != sizeof version) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    std::memcpy(&version, reply->data.data(), sizeof version);
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = version.build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
        ex->wServicePackMajor = 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = version.workstation ? VER_SUITE_SINGLEUSERTS : 0;
        ex->wProductType = version.workstation ? VER_NT_WORKSTATION : VER_NT_SERVER;
        ex->wReserved = 0;
    }
    return TRUE;
}
