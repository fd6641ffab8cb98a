// Internal: the calling process's one token and its shutdown privilege.
#pragma once

namespace lx::win32::security {

inline constexpr long kShutdownPrivilegeLuid = 19;  // Windows' value for SeShutdownPrivilege

// Whether the shutdown privilege is enabled in the process's token.
bool shutdownPrivilegeEnabled();

}  // namespace lx::win32::security
