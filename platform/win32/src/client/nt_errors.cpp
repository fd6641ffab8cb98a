#include "nt_errors.h"

#include "lxmachine/nt_status_codes.h"

namespace lx::win32::client {

namespace {

namespace st = lxm::ntstatus;
thread_local int32_t lastNtStatus = 0;

struct Mapping {
    int32_t status;
    DWORD error;
};

constexpr Mapping kMappings[] = {
    {st::kSuccess, ERROR_SUCCESS},
    {st::kBufferOverflow, ERROR_MORE_DATA},
    {st::kNoMoreEntries, ERROR_NO_MORE_ITEMS},
    {st::code(0x80000011), ERROR_BUSY},  // STATUS_DEVICE_BUSY
    {st::kUnsuccessful, ERROR_GEN_FAILURE},
    {st::kNotImplemented, ERROR_INVALID_FUNCTION},
    {st::kInfoLengthMismatch, ERROR_BAD_LENGTH},
    {st::kAccessViolation, ERROR_NOACCESS},
    {st::kInvalidHandle, ERROR_INVALID_HANDLE},
    {st::kInvalidParameter, ERROR_INVALID_PARAMETER},
    {st::kNoSuchDevice, ERROR_FILE_NOT_FOUND},
    {st::kInvalidDeviceRequest, ERROR_INVALID_FUNCTION},
    {st::kEndOfFile, ERROR_HANDLE_EOF},
    {st::kNoMemory, ERROR_NOT_ENOUGH_MEMORY},
    {st::kAccessDenied, ERROR_ACCESS_DENIED},
    {st::kBufferTooSmall, ERROR_INSUFFICIENT_BUFFER},
    {st::kObjectNameInvalid, ERROR_INVALID_NAME},
    {st::kObjectNameNotFound, ERROR_FILE_NOT_FOUND},
    {st::kObjectPathNotFound, ERROR_PATH_NOT_FOUND},
    {st::kSharingViolation, ERROR_SHARING_VIOLATION},
    {st::kDeletePending, ERROR_ACCESS_DENIED},
    {st::kInsufficientResources, ERROR_NO_SYSTEM_RESOURCES},
    {st::kDeviceNotConnected, ERROR_DEVICE_NOT_CONNECTED},
    {st::kDeviceNotReady, ERROR_NOT_READY},
    {st::kIoTimeout, ERROR_SEM_TIMEOUT},
    {st::kNotSupported, ERROR_NOT_SUPPORTED},
    {st::kDeviceDoesNotExist, ERROR_DEV_NOT_EXIST},
    {st::kInvalidUserBuffer, ERROR_INVALID_USER_BUFFER},
    {st::kCancelled, ERROR_OPERATION_ABORTED},
    {st::kInvalidDeviceState, ERROR_BAD_COMMAND},
    {st::kDeviceRemoved, ERROR_DEVICE_REMOVED},
};

}  // namespace

DWORD win32ErrorFromNtStatus(int32_t status) {
    for (const auto& m : kMappings)
        if (m.status == status) return m.error;
    // Windows answers this for a status it has no Win32 counterpart for.
    return status >= 0 ? ERROR_SUCCESS : ERROR_MR_MID_NOT_FOUND;
}

BOOL finishWithNtStatus(int32_t status) {
    lastNtStatus = status;
    if (status >= 0) return TRUE;
    SetLastError(win32ErrorFromNtStatus(status));
    return FALSE;
}

BOOL failMachineUnreachable() { return finishWithNtStatus(st::kDeviceNotConnected); }

}  // namespace lx::win32::client

WIN32_API LONG WINAPI LxGetLastNtStatus(void) { return lx::win32::client::lastNtStatus; }
