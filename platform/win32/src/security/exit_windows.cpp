// ExitWindowsEx: a control request to the machine, as `lxmachine reboot`.
#include <windows.h>

#include <mutex>
#include <string>
#include <unistd.h>

#include "lxmachine/frame_socket.h"
#include "lxmachine/machine_directory.h"
#include "lxmachine/wire.h"
#include "security/process_token.h"

namespace {

constexpr int kHelloTimeoutMs = 10000;

// The connection stays open until the process ends: the machine handles the
// request after the caller returned, and drops the caller's own connections
// while it restarts.
std::mutex requestLock;
lxm::UniqueFd pendingRequest;

bool sendPowerRequest(lxm::wire::Op op) {
  std::string error;
  const std::string directory = lxm::resolveMachineDirectory(nullptr);
  lxm::UniqueFd socket = lxm::connectToMachine(directory, &error);
  if (!socket.valid()) return false;
  lxm::wire::PayloadWriter hello;
  hello.record(lxm::wire::HelloRecord{lxm::wire::kProtocolVersion, static_cast<uint32_t>(lxm::wire::Role::Control),
                                      static_cast<uint32_t>(::getpid()), 0, 0});
  if (lxm::sendFrame(socket.get(), lxm::wire::Op::Hello, 1, hello.data()) != lxm::IoResult::Ok) return false;
  lxm::Frame frame;
  lxm::wire::ReplyRecord reply{};
  std::span<const uint8_t> data;
  if (lxm::receiveFrame(socket.get(), &frame, kHelloTimeoutMs) != lxm::IoResult::Ok ||
      !lxm::parseReply(frame, &reply, &data) || reply.status != 0)
    return false;
  if (lxm::sendFrame(socket.get(), op, 2, {}) != lxm::IoResult::Ok) return false;
  std::lock_guard lock(requestLock);
  pendingRequest = std::move(socket);
  return true;
}

}  // namespace

WIN32_API BOOL WINAPI ExitWindowsEx(UINT flags, DWORD /*reason*/) {
  const UINT action = flags & ~EWX_FORCE;
  lxm::wire::Op op;
  if (action == EWX_REBOOT)
    op = lxm::wire::Op::Reboot;
  else if (action == EWX_SHUTDOWN || action == EWX_POWEROFF)
    op = lxm::wire::Op::Shutdown;
  else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!lx::win32::security::shutdownPrivilegeEnabled()) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  if (!sendPowerRequest(op)) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  return TRUE;
}
