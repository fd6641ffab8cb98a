#include "democommon/restart.h"

#include <windows.h>

#include "democommon/message_box.h"

namespace demo {

namespace {

bool enableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool enabled = LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) != FALSE;
  if (enabled) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    enabled = GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return enabled;
}

}  // namespace

bool restartComputer(const COperateSystemInfo& os, const char* caption) {
  if (!os.consumerFamily() && !enableShutdownPrivilege()) {
    showWarning("Current proccess can't apply for the reboot priviledge!", caption);
    return false;
  }
  return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) != FALSE;
}

}  // namespace demo
