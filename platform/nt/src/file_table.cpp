#include "file_table.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "bug_check.h"
#include "device_runtime.h"
#include "irp.h"
#include "log.h"
#include "object_namespace.h"
#include "pnp_manager.h"
#include "runtime.h"
#include "unicode_text.h"

namespace nt {

FileTable::FileTable(ObjectNamespace& objects, PnpManager& pnp) : objects_(objects), pnp_(pnp) {}

class FileTable::Call {
public:
    Call(FileTable& table, uint32_t processId)
        : table_(table), processId_(processId), admitted_(table.beginCall(processId)) {}
    ~Call() {
        if (admitted_) table_.endCall(processId_);
    }
    explicit operator bool() const { return admitted_; }

private:
    FileTable& table_;
    const uint32_t processId_;
    const bool admitted_;
};

bool FileTable::beginCall(uint32_t processId) {
    std::lock_guard lock(inFlightMutex_);
    if (exiting_.contains(processId)) return false;
    ++callsInside_[processId];
    return true;
}

void FileTable::endCall(uint32_t processId) {
    std::lock_guard lock(inFlightMutex_);
    auto it = callsInside_.find(processId);
    if (it != callsInside_.end() && --it->second == 0) {
        callsInside_.erase(it);
        callLeft_.notify_all();
    }
}

std::optional<IO_STATUS_BLOCK> FileTable::send(UserProcess& process, const FilePtr& file,
                                               const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare) {
    const uint32_t pid = process.processId();
    PIRP sent = nullptr;
    return sendAndWaitAbandonable(
        file->device,
        [&](PIRP irp, PIO_STACK_LOCATION stack) {
            irp->RequestorMode = UserMode;
            irp->Tail.Overlay.OriginalFileObject = file->file;
            stack->FileObject = file->file;
            prepare(irp, stack);
        },
        [&](PIRP irp) {
            std::lock_guard lock(inFlightMutex_);
            if (irp) {
                inFlight_.emplace(pid, InFlight{irp, file->device});
                sent = irp;
                // Sent after the exit's cancel sweep: cancelled from the start.
                if (exiting_.contains(pid)) IoCancelIrp(irp);
                return;
            }
            auto [begin, end] = inFlight_.equal_range(pid);
            for (auto it = begin; it != end; ++it) {
                if (it->second.irp == sent) {
                    inFlight_.erase(it);
                    break;
                }
            }
        });
}

FileTable::FilePtr FileTable::lookup(uint32_t processId, uint64_t handle) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end() || it->second->processId != processId) return nullptr;
    it->second->references.fetch_add(1);
    return it->second;
}

NTSTATUS FileTable::create(UserProcess& process, const std::string& path, uint64_t* handle) {
    if (!handle) return STATUS_INVALID_PARAMETER;
    *handle = 0;
    Call call(*this, process.processId());
    if (!call) return STATUS_PROCESS_IS_TERMINATING;
    ProcessContext context(&process);
    PDEVICE_OBJECT target = objects_.resolve(path);
    if (!target) return STATUS_OBJECT_NAME_NOT_FOUND;
    PDEVICE_OBJECT device = IoGetAttachedDeviceReference(target);
    DeviceRuntime* rt = deviceRuntime(device);
    if (rt->deleted) return STATUS_DELETE_PENDING;
    if (device->Flags & DO_DEVICE_INITIALIZING) return STATUS_DEVICE_NOT_READY;
    // An exclusive device takes one file at a time: the reference is taken
    // before the create is sent, so two opens cannot both pass.
    if (rt->exclusive) {
        LONG none = 0;
        if (!__atomic_compare_exchange_n(&device->ReferenceCount, &none, 1, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return STATUS_ACCESS_DENIED;
    } else {
        InterlockedIncrement(&device->ReferenceCount);
    }
    auto* fileObject = static_cast<PFILE_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, sizeof(FILE_OBJECT), 'eliF'));
    if (!fileObject) {
        InterlockedDecrement(&device->ReferenceCount);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(fileObject, 0, sizeof *fileObject);
    fileObject->Type = 5;
    fileObject->Size = sizeof(FILE_OBJECT);
    fileObject->DeviceObject = device;
    fileObject->ReadAccess = fileObject->WriteAccess = TRUE;
    auto file = std::make_shared<OpenFile>();
    file->processId = process.processId();
    file->path = path;
    file->file = fileObject;
    file->device = device;
    auto sent = send(process, file, [](PIRP, PIO_STACK_LOCATION stack) {
        stack->MajorFunction = IRP_MJ_CREATE;
        stack->Parameters.Create.ShareAccess = 0;
    });
    if (!sent) return STATUS_CANCELLED;  // the driver keeps the file object and its device reference
    const IO_STATUS_BLOCK result = *sent;
    if (!NT_SUCCESS(result.Status)) {
        ExFreePool(fileObject);
        if (InterlockedDecrement(&device->ReferenceCount) == 0 && rt->deleted) freeDeviceObject(device);
        pnp_.fileClosed();
        return result.Status;
    }
    {
        std::lock_guard calls(inFlightMutex_);
        std::lock_guard lock(mutex_);
        if (!exiting_.contains(file->processId)) {
            file->handle = nextHandle_;
            nextHandle_ += 4;
            files_[file->handle] = file;
            *handle = file->handle;
            return result.Status;
        }
    }
    // The process began to exit while its open ran: the file never reaches it.
    closeFile(file, &process);
    return STATUS_PROCESS_IS_TERMINATING;
}

// The last reference sends the close; the device may then be freed or removed.
void FileTable::release(const FilePtr& file, UserProcess* process) {
    if (file->references.fetch_sub(1) != 1) return;
    ProcessContext context(process);
    PDEVICE_OBJECT device = file->device;
    bool abandoned = false;
    if (!deviceRuntime(device)->deleted) {
        abandoned = !sendAndWaitBounded(
            device,
            [&](PIRP irp, PIO_STACK_LOCATION stack) {
                irp->RequestorMode = UserMode;
                stack->MajorFunction = IRP_MJ_CLOSE;
                stack->FileObject = file->file;
            },
            driverWaitLimit());
    }
    // A close the driver still holds keeps its file object.
    if (!abandoned) ExFreePool(file->file);
    file->file = nullptr;
    if (InterlockedDecrement(&device->ReferenceCount) == 0 && deviceRuntime(device)->deleted) freeDeviceObject(device);
    pnp_.fileClosed();
}

NTSTATUS FileTable::closeFile(const FilePtr& file, UserProcess* process) {
    {
        ProcessContext context(process);
        if (!deviceRuntime(file->device)->deleted) {
            sendAndWaitBounded(
                file->device,
                [&](PIRP irp, PIO_STACK_LOCATION stack) {
                    irp->RequestorMode = UserMode;
                    stack->MajorFunction = IRP_MJ_CLEANUP;
                    stack->FileObject = file->file;
                },
                driverWaitLimit());
        }
    }
    release(file, process);
    return STATUS_SUCCESS;
}

NTSTATUS FileTable::close(UserProcess& process, uint64_t handle) {
    // An exiting process's handles are already gone, or about to be.
    Call call(*this, process.processId());
    if (!call) return STATUS_INVALID_HANDLE;
    FilePtr file;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(handle);
        if (it == files_.end() || it->second->processId != process.processId()) return STATUS_INVALID_HANDLE;
        file = it->second;
        files_.erase(it);
    }
    return closeFile(file, &process);
}

NTSTATUS FileTable::transfer(UserProcess& process, uint64_t handle, UCHAR major, uint32_t code, const void* input,
                             uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* information) {
    if (information) *information = 0;
    if ((inputLength && !input) || (outputLength && !output)) return STATUS_INVALID_PARAMETER;
    Call call(*this, process.processId());
    if (!call) return STATUS_PROCESS_IS_TERMINATING;
    FilePtr file = lookup(process.processId(), handle);
    if (!file) return STATUS_INVALID_HANDLE;
    if (deviceRuntime(file->device)->deleted) {
        // Its driver removed the device (and may be gone): nothing answers any more.
        release(file, &process);
        return STATUS_DELETE_PENDING;
    }
    ProcessContext context(&process);
    // One system buffer carries the input in and the output back, as METHOD_BUFFERED does.
    const uint32_t size = std::max(inputLength, outputLength);
    void* systemBuffer = nullptr;
    if (size) {
        systemBuffer = ExAllocatePoolWithTag(NonPagedPool, size, 'fuBS');
        if (!systemBuffer) {
            release(file, &process);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        std::memset(systemBuffer, 0, size);
        if (inputLength) std::memcpy(systemBuffer, input, inputLength);
    }
    auto sent = send(process, file, [&](PIRP irp, PIO_STACK_LOCATION stack) {
        stack->MajorFunction = major;
        irp->AssociatedIrp.SystemBuffer = systemBuffer;
        irp->UserBuffer = major == IRP_MJ_DEVICE_CONTROL ? output : systemBuffer;
        irp->Flags |= IRP_BUFFERED_IO | (major == IRP_MJ_READ ? IRP_INPUT_OPERATION : 0);
        switch (major) {
        case IRP_MJ_DEVICE_CONTROL:
            stack->Parameters.DeviceIoControl.IoControlCode = code;
            stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
            stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
            stack->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(input);
            break;
        case IRP_MJ_READ: stack->Parameters.Read.Length = outputLength; break;
        case IRP_MJ_WRITE: stack->Parameters.Write.Length = inputLength; break;
        default: break;
        }
    });
    // The driver keeps the IRP, the system buffer and the file object it
    // points at: the request's file reference is never given back, so the
    // file is never closed under it.
    if (!sent) return STATUS_CANCELLED;
    const IO_STATUS_BLOCK result = *sent;
    // Output is copied back for success and for warnings, never for errors.
    const bool isError = (static_cast<uint32_t>(result.Status) >> 30) == 3;
    uint32_t copied = 0;
    if (!isError && result.Status != STATUS_PENDING) {
        const uint64_t produced = major == IRP_MJ_WRITE ? std::min<uint64_t>(result.Information, inputLength)
                                                        : std::min<uint64_t>(result.Information, outputLength);
        if (major != IRP_MJ_WRITE && produced) std::memcpy(output, systemBuffer, produced);
        copied = static_cast<uint32_t>(produced);
    }
    if (information) *information = copied;
    if (systemBuffer) ExFreePool(systemBuffer);
    release(file, &process);
    return result.Status;
}

NTSTATUS FileTable::deviceControl(UserProcess& process, uint64_t handle, uint32_t code, const void* input,
                                  uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* information) {
    const uint32_t method = code & 3;
    if (method == METHOD_IN_DIRECT || method == METHOD_OUT_DIRECT) {
        // Direct transfers need an MDL of the caller's buffer, which is not machine memory.
        klog("DeviceIoControl 0x%08X: direct transfer methods are not supported", code);
        if (information) *information = 0;
        return STATUS_NOT_SUPPORTED;
    }
    return transfer(process, handle, IRP_MJ_DEVICE_CONTROL, code, input, inputLength, output, outputLength,
                    information);
}

NTSTATUS FileTable::read(UserProcess& process, uint64_t handle, void* buffer, uint32_t length, uint32_t* information) {
    return transfer(process, handle, IRP_MJ_READ, 0, nullptr, 0, buffer, length, information);
}

NTSTATUS FileTable::write(UserProcess& process, uint64_t handle, const void* buffer, uint32_t length,
                          uint32_t* information) {
    return transfer(process, handle, IRP_MJ_WRITE, 0, buffer, length, nullptr, 0, information);
}

void FileTable::processExited(UserProcess& process) {
    const uint32_t pid = process.processId();
    {
        // Requests still running for the process are cancelled first, as
        // when its threads end; the senders then see them complete, and the
        // files are closed only once no call of the process is inside.
        std::unique_lock lock(inFlightMutex_);
        exiting_.insert(pid);
        auto [begin, end] = inFlight_.equal_range(pid);
        for (auto it = begin; it != end; ++it) IoCancelIrp(it->second.irp);
        // A driver that ignores cancellation must not hold a dead process's clean-up forever.
        const auto limit = driverWaitLimit();
        if (!callLeft_.wait_for(lock, limit, [&] { return !callsInside_.contains(pid); })) {
            abandonLocked(pid);
            if (!callLeft_.wait_for(lock, limit, [&] { return !callsInside_.contains(pid); }))
                klog("process %u: a request did not end after cancellation; closing its files anyway", pid);
        }
    }
    std::vector<FilePtr> mine;
    {
        std::lock_guard lock(mutex_);
        for (auto it = files_.begin(); it != files_.end();) {
            if (it->second->processId == pid) {
                mine.push_back(it->second);
                it = files_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const FilePtr& file : mine) closeFile(file, &process);
}

void FileTable::cancelAll() {
    std::lock_guard lock(inFlightMutex_);
    for (auto& [pid, request] : inFlight_) IoCancelIrp(request.irp);
}

void FileTable::abandonAll() {
    std::lock_guard lock(inFlightMutex_);
    abandonLocked(0);
}

void FileTable::abandonLocked(uint32_t pid) {
    for (auto& [owner, request] : inFlight_) {
        if (pid != 0 && owner != pid) continue;
        const std::string driver = driverServiceName(request.device->DriverObject);
        klog("process %u: driver %s never completed %s (IRP %p) after cancellation; the request is abandoned", owner,
             driver.empty() ? "(unknown)" : driver.c_str(), majorFunctionName(requestMajor(request.irp)),
             static_cast<void*>(request.irp));
        abandonRequest(request.irp);
    }
}

void FileTable::closeAll() {
    std::vector<FilePtr> all;
    {
        std::lock_guard lock(mutex_);
        for (auto& [handle, file] : files_) all.push_back(file);
        files_.clear();
    }
    for (const FilePtr& file : all) closeFile(file, nullptr);
}

std::vector<FileTable::HandleInfo> FileTable::handles() const {
    std::lock_guard lock(mutex_);
    std::vector<HandleInfo> result;
    for (const auto& [handle, file] : files_) {
        const DeviceRuntime* rt = deviceRuntime(file->device);
        result.push_back(HandleInfo{file->processId, handle, file->path, rt && !rt->deleted ? rt->name : ""});
    }
    return result;
}

}  // namespace nt
