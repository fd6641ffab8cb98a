#include "democommon/os_info.h"

#include <unistd.h>

#include <thread>

namespace demo {

COperateSystemInfo::COperateSystemInfo() {
  processor_.processorCount = std::thread::hardware_concurrency();
  processor_.pageSize = static_cast<DWORD>(::sysconf(_SC_PAGESIZE));
  version_.dwOSVersionInfoSize = sizeof version_;
  static_assert(sizeof(OSVERSIONINFOEXA) == 156);
  queried_ = GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version_)) != FALSE;
}

int COperateSystemInfo::GetOsCode() const { return queried_ ? osCodeOf(version_) : -1; }

int COperateSystemInfo::osCodeOf(const OSVERSIONINFOEXA& version) {
  const DWORD major = version.dwMajorVersion;
  const DWORD minor = version.dwMinorVersion;
  const bool workstation = version.wProductType == VER_NT_WORKSTATION;
  if (major == 4 && minor == 0) {
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return 0;
    return version.dwPlatformId == 1 ? 1 : -1;
  }
  if (major == 4 && minor == 10) return 2;
  if (major == 4 && minor == 90) return 3;
  if (major == 5 && minor == 0) return 4;
  if (major == 5 && minor == 1) return 5;
  if (major == 6 && minor <= 2 && workstation) return 6 + static_cast<int>(minor);
  return -1;
}

}  // namespace demo
