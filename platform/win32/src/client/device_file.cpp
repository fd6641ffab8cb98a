// CreateFileA, DeviceIoControl, ReadFile, WriteFile.
#include "device_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lxmachine/nt_status_codes.h"
#include "machine_session.h"
#include "nt_errors.h"
#include "trace.h"

namespace lx::win32::client {

namespace wire = lxm::wire;

namespace {

bool isDevicePath(const char* path) {
    return std::strncmp(path, "\\\\.\\", 4) == 0 || std::strncmp(path, "\\\\?\\", 4) == 0;
}

DWORD errorFromErrno(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
    }
}

HANDLE openHostFile(const char* path, DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool reads = access & (GENERIC_READ | GENERIC_ALL);
    bool writes = access & (GENERIC_WRITE | GENERIC_ALL);
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!writes) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    bool existed = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) && ::access(path, F_OK) == 0;
    lxm::UniqueFd fd(::open(path, flags, 0644));
    if (!fd.valid()) {
        SetLastError(errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = insertHandle(std::make_shared<HostFile>(std::move(fd)));
    if (!handle) return INVALID_HANDLE_VALUE;
    // As on Windows: these dispositions report an existing file through the last error.
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// The device file behind a handle, if it belongs to the machine's current boot.
std::shared_ptr<DeviceFile> deviceOf(HANDLE handle) {
    auto file = lookupHandleAs<DeviceFile>(handle, HandleKind::DeviceFile);
    if (!file) return nullptr;
    if (!attachmentAlive(file->attachment())) {
        // The machine rebooted since the open: the kernel's file is gone.
        finishWithNtStatus(lxm::ntstatus::kDeviceNotConnected);
        return nullptr;
    }
    return file;
}

// One read or write on a host file, retried on EINTR; the count goes to *done.
template <typename Transfer>
BOOL transferHostFile(Transfer transfer, LPDWORD done) {
    ssize_t n;
    do n = transfer();
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    *done = static_cast<DWORD>(n);
    return TRUE;
}

// What ReadFile and WriteFile check alike: no overlapped I/O, a buffer for a
// nonzero count, a count out (0 from here on), a live handle, and for a
// device a count one request can carry. Null with the error set otherwise.
// A device's refusal, for LX_TRACE.
void traceRefusal(const std::string& request, int32_t status) {
    if (status >= 0 || !traceEnabled()) return;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(status));
    trace(request + " refused by the device: NTSTATUS " + code);
}

std::shared_ptr<KernelObject> transferTarget(HANDLE handle, const void* buffer, DWORD bytes, LPDWORD done,
                                             LPOVERLAPPED overlapped) {
    if (overlapped || (!buffer && bytes) || !done) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *done = 0;
    auto object = lookupHandle(handle);
    if (object && object->kind() != HandleKind::File && bytes > wire::kMaxIoBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return object;
}

}  // namespace

DeviceFile::~DeviceFile() { closeInKernel(); }

bool DeviceFile::closeInKernel() {
    if (closed_.exchange(true)) return true;
    if (!attachmentAlive(attachment_)) return true;  // the machine rebooted: nothing left to close
    wire::PayloadWriter w;
    w.record(wire::HandleRecord{kernelFile_});
    auto reply = callMachine(wire::Op::CloseFile, w.data());
    return reply && reply->status >= 0;
}

BOOL DeviceFile::onClose() {
    if (!closeInKernel()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // namespace lx::win32::client

using namespace lx::win32;
using namespace lx::win32::client;

WIN32_API HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                                    LPSECURITY_ATTRIBUTES /*securityAttributes*/, DWORD creationDisposition,
                                    DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    if (!fileName || !*fileName) {
        SetLastError(fileName ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!isDevicePath(fileName)) return openHostFile(fileName, desiredAccess, creationDisposition);
    if (flagsAndAttributes & FILE_FLAG_OVERLAPPED) {
        // Every request here is synchronous.
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t length = std::strlen(fileName);
    if (length > wire::kMaxName) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    wire::PayloadWriter w;
    w.record(wire::PathRecord{static_cast<uint32_t>(length), 0}).text(fileName);
    uint64_t attachment = currentAttachment();
    auto reply = callMachine(wire::Op::CreateFile, w.data());
    if (!reply) {
        failMachineUnreachable();
        return INVALID_HANDLE_VALUE;
    }
    traceRefusal(std::string("open ") + fileName, reply->status);
    if (!finishWithNtStatus(reply->status)) return INVALID_HANDLE_VALUE;
    HANDLE handle = insertHandle(std::make_shared<DeviceFile>(attachment, reply->value));
    if (!handle) return INVALID_HANDLE_VALUE;  // the object's destructor closed the kernel's file
    SetLastError(ERROR_SUCCESS);
    return handle;
}

WIN32_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inBufferSize,
                                      LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                                      LPOVERLAPPED overlapped) {
    if (overlapped || (!inBuffer && inBufferSize) || (!outBuffer && outBufferSize) ||
        inBufferSize > wire::kMaxIoBuffer || outBufferSize > wire::kMaxIoBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Without an OVERLAPPED structure the count is required, as on Windows.
    if (!bytesReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto file = deviceOf(device);
    if (!file) return FALSE;
    *bytesReturned = 0;
    wire::PayloadWriter w;
    w.record(wire::IoctlRecord{file->kernelFile(), code, inBufferSize, outBufferSize, 0}).bytes(inBuffer, inBufferSize);
    auto reply = callMachine(wire::Op::DeviceIoControl, w.data());
    if (!reply) return failMachineUnreachable();
    if (reply->data.size() > outBufferSize) return finishWithNtStatus(lxm::ntstatus::kInvalidUserBuffer);
    if (!reply->data.empty()) std::memcpy(outBuffer, reply->data.data(), reply->data.size());
    *bytesReturned = static_cast<DWORD>(reply->data.size());
    if (reply->status < 0 && traceEnabled()) {
        char request[48];
        std::snprintf(request, sizeof request, "device request 0x%08X", static_cast<uint32_t>(code));
        traceRefusal(request, reply->status);
    }
    return finishWithNtStatus(reply->status);
}

WIN32_API BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    auto object = transferTarget(handle, buffer, toRead, read, overlapped);
    if (!object) return FALSE;
    if (object->kind() == HandleKind::File) {
        auto host = std::static_pointer_cast<HostFile>(object);
        return transferHostFile([&] { return ::read(host->fd(), buffer, toRead); }, read);
    }
    auto file = deviceOf(handle);
    if (!file) return FALSE;
    wire::PayloadWriter w;
    w.record(wire::TransferRecord{file->kernelFile(), toRead, 0});
    auto reply = callMachine(wire::Op::ReadFile, w.data());
    if (!reply) return failMachineUnreachable();
    if (reply->data.size() > toRead) return finishWithNtStatus(lxm::ntstatus::kInvalidUserBuffer);
    if (!reply->data.empty()) std::memcpy(buffer, reply->data.data(), reply->data.size());
    *read = static_cast<DWORD>(reply->data.size());
    return finishWithNtStatus(reply->status);
}

WIN32_API BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                LPOVERLAPPED overlapped) {
    auto object = transferTarget(handle, buffer, toWrite, written, overlapped);
    if (!object) return FALSE;
    if (object->kind() == HandleKind::File) {
        auto host = std::static_pointer_cast<HostFile>(object);
        return transferHostFile([&] { return ::write(host->fd(), buffer, toWrite); }, written);
    }
    auto file = deviceOf(handle);
    if (!file) return FALSE;
    wire::PayloadWriter w;
    w.record(wire::TransferRecord{file->kernelFile(), toWrite, 0}).bytes(buffer, toWrite);
    auto reply = callMachine(wire::Op::WriteFile, w.data());
    if (!reply) return failMachineUnreachable();
    *written = reply->information <= toWrite ? reply->information : toWrite;
    return finishWithNtStatus(reply->status);
}
