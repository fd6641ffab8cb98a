// The NT status values that cross the client protocol.
#pragma once

#include <cstdint>

namespace lxm::ntstatus {

inline constexpr int32_t code(uint32_t v) { return static_cast<int32_t>(v); }

inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kTimeout = 0x00000102;
inline constexpr int32_t kPending = 0x00000103;
inline constexpr int32_t kBufferOverflow = code(0x80000005);
inline constexpr int32_t kNoMoreEntries = code(0x8000001A);
inline constexpr int32_t kUnsuccessful = code(0xC0000001);
inline constexpr int32_t kNotImplemented = code(0xC0000002);
inline constexpr int32_t kInfoLengthMismatch = code(0xC0000004);
inline constexpr int32_t kAccessViolation = code(0xC0000005);
inline constexpr int32_t kInvalidHandle = code(0xC0000008);
inline constexpr int32_t kInvalidParameter = code(0xC000000D);
inline constexpr int32_t kNoSuchDevice = code(0xC000000E);
inline constexpr int32_t kInvalidDeviceRequest = code(0xC0000010);
inline constexpr int32_t kEndOfFile = code(0xC0000011);
inline constexpr int32_t kNoMemory = code(0xC0000017);
inline constexpr int32_t kAccessDenied = code(0xC0000022);
inline constexpr int32_t kBufferTooSmall = code(0xC0000023);
inline constexpr int32_t kObjectNameInvalid = code(0xC0000033);
inline constexpr int32_t kObjectNameNotFound = code(0xC0000034);
inline constexpr int32_t kObjectPathNotFound = code(0xC000003A);
inline constexpr int32_t kSharingViolation = code(0xC0000043);
inline constexpr int32_t kQuotaExceeded = code(0xC0000044);
inline constexpr int32_t kDeletePending = code(0xC0000056);
inline constexpr int32_t kInsufficientResources = code(0xC000009A);
inline constexpr int32_t kDeviceNotConnected = code(0xC000009D);
inline constexpr int32_t kDeviceNotReady = code(0xC00000A3);
inline constexpr int32_t kIoTimeout = code(0xC00000B5);
inline constexpr int32_t kNotSupported = code(0xC00000BB);
inline constexpr int32_t kDeviceDoesNotExist = code(0xC00000C0);
inline constexpr int32_t kInvalidUserBuffer = code(0xC00000E8);
inline constexpr int32_t kCancelled = code(0xC0000120);
inline constexpr int32_t kInvalidDeviceState = code(0xC0000184);
inline constexpr int32_t kDeviceRemoved = code(0xC00002B6);

// Error severity: the I/O manager copies no output back for these.
inline constexpr bool isError(int32_t status) { return (static_cast<uint32_t>(status) >> 30) == 3; }

}  // namespace lxm::ntstatus
