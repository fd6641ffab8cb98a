// OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges.
#include "security/process_token.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "handle_table.h"

namespace lx::win32::security {

namespace {

// The token is per process; its handles share the enabled state.
std::atomic<bool> shutdownEnabled{false};

class TokenObject final : public KernelObject {
 public:
  explicit TokenObject(DWORD access) : KernelObject(HandleKind::Other), access_(access) {}
  DWORD access() const { return access_; }

 private:
  const DWORD access_;
};

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

}  // namespace

bool shutdownPrivilegeEnabled() { return shutdownEnabled.load(); }

}  // namespace lx::win32::security

using namespace lx::win32;
using namespace lx::win32::security;

WIN32_API HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

WIN32_API BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
  if (!token) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *token = nullptr;
  if (process != kCurrentProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HANDLE handle = insertHandle(std::make_shared<TokenObject>(desiredAccess));
  if (!handle) return FALSE;
  *token = handle;
  return TRUE;
}

WIN32_API BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
  if (!name || !luid || (systemName && *systemName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (std::strcmp(name, SE_SHUTDOWN_NAME) != 0) {
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  luid->LowPart = kShutdownPrivilegeLuid;
  luid->HighPart = 0;
  return TRUE;
}

WIN32_API BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                            DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                            PDWORD returnLength) {
  // Only an object made by OpenProcessToken is a token here.
  auto object = lookupHandleAs<KernelObject>(token, HandleKind::Other);
  auto tokenObject = std::dynamic_pointer_cast<TokenObject>(object);
  if (!tokenObject) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(tokenObject->access() & TOKEN_ADJUST_PRIVILEGES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!disableAll && !newState) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool before = shutdownEnabled.load();
  if (previousState) {
    if (bufferLength < sizeof(TOKEN_PRIVILEGES)) {
      if (returnLength) *returnLength = sizeof(TOKEN_PRIVILEGES);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
  }
  bool allAssigned = true;
  if (disableAll) {
    shutdownEnabled = false;
  } else {
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = newState->Privileges[i];
      if (p.Luid.LowPart != kShutdownPrivilegeLuid || p.Luid.HighPart != 0) {
        allAssigned = false;
        continue;
      }
      shutdownEnabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  if (previousState) {
    previousState->PrivilegeCount = 1;
    previousState->Privileges[0].Luid = LUID{kShutdownPrivilegeLuid, 0};
    previousState->Privileges[0].Attributes = before ? SE_PRIVILEGE_ENABLED : 0;
    if (returnLength) *returnLength = sizeof(TOKEN_PRIVILEGES);
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}
