// The process token's shutdown privilege, and ExitWindowsEx refusing
// without it (the restart itself is exercised against a private machine by
// the program's tests).
#include <gtest/gtest.h>
#include <windows.h>

namespace {

TOKEN_PRIVILEGES shutdownPrivilege(DWORD attributes) {
  TOKEN_PRIVILEGES p{};
  p.PrivilegeCount = 1;
  EXPECT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &p.Privileges[0].Luid));
  p.Privileges[0].Attributes = attributes;
  return p;
}

TEST(ProcessToken, ShutdownPrivilegeIsHeldDisabledUntilEnabled) {
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES enable = shutdownPrivilege(SE_PRIVILEGE_ENABLED);
  TOKEN_PRIVILEGES previous{};
  DWORD length = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous, &previous, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(previous.Privileges[0].Attributes, 0u) << "it was disabled";

  TOKEN_PRIVILEGES other = enable;
  other.Privileges[0].Luid.LowPart = 2;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &other, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED)) << "a privilege the token lacks";

  // Enabled, the request goes to the machine; none runs for this test.
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_FALSE(ExitWindowsEx(EWX_LOGOFF, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ASSERT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_TRUE(CloseHandle(token));
}

TEST(ProcessToken, RefusesOtherProcessesUnknownNamesAndQueryOnlyTokens) {
  HANDLE token = reinterpret_cast<HANDLE>(1);
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x40), TOKEN_QUERY, &token));
  EXPECT_EQ(token, nullptr);
  LUID luid{};
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));

  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES enable = shutdownPrivilege(SE_PRIVILEGE_ENABLED);
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &enable, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &enable, 0, nullptr, nullptr)) << "closed";
}

}  // namespace
