// File mappings and mutexes. Named objects (and unnamed mutexes) live in the
// machine's object manager; an unnamed mapping is a memfd of this process.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "handle_table.h"
#include "machine_session.h"
#include "nt_errors.h"

namespace lx::win32::client {

namespace wire = lxm::wire;

namespace {

constexpr uint64_t kAllocationGranularity = 64 * 1024;

// Releases one handle of a named object in the machine (if it is still the same boot).
void closeInMachine(uint64_t attachment, uint64_t objectHandle) {
    if (objectHandle == 0 || !attachmentAlive(attachment)) return;
    wire::PayloadWriter w;
    w.record(wire::HandleRecord{objectHandle});
    callMachine(wire::Op::CloseObject, w.data());
}

class FileMapping final : public KernelObject {
public:
    FileMapping(lxm::UniqueFd fd, uint64_t size, bool writable, uint64_t attachment, uint64_t objectHandle)
        : KernelObject(HandleKind::FileMapping),
          fd_(std::move(fd)),
          size_(size),
          writable_(writable),
          attachment_(attachment),
          objectHandle_(objectHandle) {}
    ~FileMapping() override { closeInMachine(attachment_, objectHandle_); }

    int fd() const { return fd_.get(); }
    uint64_t size() const { return size_; }
    bool writable() const { return writable_; }
    uint64_t objectHandle() const { return objectHandle_; }

private:
    lxm::UniqueFd fd_;
    const uint64_t size_;
    const bool writable_;
    const uint64_t attachment_;
    const uint64_t objectHandle_;  // 0: unnamed, this process only
};

class Mutex final : public KernelObject {
public:
    Mutex(uint64_t attachment, uint64_t objectHandle)
        : KernelObject(HandleKind::Mutex), attachment_(attachment), objectHandle_(objectHandle) {}
    ~Mutex() override { closeInMachine(attachment_, objectHandle_); }

    DWORD wait(DWORD milliseconds) override {
        if (!attachmentAlive(attachment_)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        wire::PayloadWriter w;
        w.record(wire::WaitRecord{objectHandle_, milliseconds, 0});
        auto reply = callMachine(wire::Op::WaitObject, w.data());
        if (!reply) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return WAIT_FAILED;
        }
        if (reply->information == WAIT_FAILED) SetLastError(static_cast<DWORD>(reply->status));
        return reply->information;
    }

    BOOL release() {
        if (!attachmentAlive(attachment_)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        wire::PayloadWriter w;
        w.record(wire::HandleRecord{objectHandle_});
        auto reply = callMachine(wire::Op::ReleaseMutex, w.data());
        if (!reply) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        if (reply->status != 0) {
            SetLastError(static_cast<DWORD>(reply->status));
            return FALSE;
        }
        return TRUE;
    }

private:
    const uint64_t attachment_;
    const uint64_t objectHandle_;
};

struct View {
    size_t length;
    bool reported;
};

std::mutex viewsLock;
std::map<uintptr_t, View>& views() {
    static auto* v = new std::map<uintptr_t, View>;
    return *v;
}

bool validName(const char* name) { return std::strlen(name) <= wire::kMaxName; }

// Sends a create/open request for a named object; the reply or nothing (last error set).
std::optional<MachineReply> objectRequest(wire::Op op, const std::string& name, uint64_t size, uint32_t flags) {
    wire::PayloadWriter w;
    w.record(wire::NamedObjectRecord{size, static_cast<uint32_t>(name.size()), flags}).text(name);
    auto reply = callMachine(op, w.data());
    if (!reply) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return std::nullopt;
    }
    if (reply->status != ERROR_SUCCESS && reply->status != ERROR_ALREADY_EXISTS) {
        SetLastError(static_cast<DWORD>(reply->status));
        return std::nullopt;
    }
    return reply;
}

HANDLE mappingFromReply(MachineReply& reply, bool writable, uint64_t attachment) {
    uint64_t size = 0;
    if (reply.fds.size() != 1 || reply.data.size() != sizeof size) {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    std::memcpy(&size, reply.data.data(), sizeof size);
    auto mapping = std::make_shared<FileMapping>(std::move(reply.fds[0]), size, writable, attachment, reply.value);
    HANDLE handle = insertHandle(mapping);
    if (handle) SetLastError(static_cast<DWORD>(reply.status));  // ERROR_ALREADY_EXISTS or 0
    return handle;
}

std::string unnamedMutexName() {
    static std::atomic<uint64_t> counter{0};
    // DEL cannot be typed into a name by accident; the pid keeps processes apart.
    return "\x7funnamed-mutex:" + std::to_string(::getpid()) + ":" + std::to_string(counter.fetch_add(1));
}

}  // namespace
}  // namespace lx::win32::client

using namespace lx::win32;
using namespace lx::win32::client;

WIN32_API HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh,
                                           DWORD sizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        // Only page-file backed sections exist here.
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    DWORD page = protect & 0xFF;
    if (page != PAGE_READONLY && page != PAGE_READWRITE && page != PAGE_WRITECOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t size = (uint64_t{sizeHigh} << 32) | sizeLow;
    const bool writable = page == PAGE_READWRITE;
    if (name && *name) {
        if (!validName(name)) {
            SetLastError(ERROR_INVALID_NAME);
            return nullptr;
        }
        if (size == 0 || size > (uint64_t{1} << 32)) {
            // An existing object may be opened with size 0 on Windows; here the
            // machine needs a size to create one, so ask it to open first.
            if (size != 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            uint64_t attachment = currentAttachment();
            auto reply = objectRequest(wire::Op::OpenMapping, name, 0, 0);
            if (!reply) {
                if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            reply->status = ERROR_ALREADY_EXISTS;
            return mappingFromReply(*reply, writable, attachment);
        }
        uint64_t attachment = currentAttachment();
        auto reply = objectRequest(wire::Op::CreateMapping, name, size, 0);
        if (!reply) return nullptr;
        return mappingFromReply(*reply, writable, attachment);
    }
    if (size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    lxm::UniqueFd fd(::memfd_create("lx-unnamed-mapping", MFD_CLOEXEC));
    if (!fd.valid() || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE handle = insertHandle(std::make_shared<FileMapping>(std::move(fd), size, writable, 0, 0));
    if (handle) SetLastError(ERROR_SUCCESS);
    return handle;
}

WIN32_API HANDLE WINAPI OpenFileMappingA(DWORD desiredAccess, BOOL, LPCSTR name) {
    if (!name || !*name || !validName(name)) {
        SetLastError(name && *name ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t attachment = currentAttachment();
    auto reply = objectRequest(wire::Op::OpenMapping, name, 0, 0);
    if (!reply) return nullptr;
    reply->status = 0;
    bool writable = (desiredAccess & FILE_MAP_WRITE) != 0;
    return mappingFromReply(*reply, writable, attachment);
}

WIN32_API LPVOID WINAPI MapViewOfFile(HANDLE mappingHandle, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                                      SIZE_T bytes) {
    auto mapping = lookupHandleAs<FileMapping>(mappingHandle, HandleKind::FileMapping);
    if (!mapping) return nullptr;
    uint64_t offset = (uint64_t{offsetHigh} << 32) | offsetLow;
    if (offset % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    bool write = (access & FILE_MAP_WRITE) != 0;
    if (write && !mapping->writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (offset >= mapping->size() || bytes > mapping->size() - offset) {
        SetLastError(ERROR_ACCESS_DENIED);  // STATUS_INVALID_VIEW_SIZE
        return nullptr;
    }
    size_t length = bytes ? bytes : static_cast<size_t>(mapping->size() - offset);
    int prot = PROT_READ | (write ? PROT_WRITE : 0);
    int flags = (access & FILE_MAP_COPY) && !write ? MAP_PRIVATE : MAP_SHARED;
    if (access & FILE_MAP_COPY) prot |= PROT_WRITE;
    void* address = ::mmap(nullptr, length, prot, flags, mapping->fd(), static_cast<off_t>(offset));
    if (address == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        std::lock_guard guard(viewsLock);
        views()[reinterpret_cast<uintptr_t>(address)] = View{length, mapping->objectHandle() != 0};
    }
    if (mapping->objectHandle() != 0) reportView(address, length, mapping->objectHandle());
    SetLastError(ERROR_SUCCESS);
    return address;
}

WIN32_API BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress) {
    View view;
    {
        std::lock_guard guard(viewsLock);
        auto it = views().find(reinterpret_cast<uintptr_t>(baseAddress));
        if (it == views().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        view = it->second;
        views().erase(it);
    }
    ::munmap(const_cast<void*>(baseAddress), view.length);
    if (view.reported) forgetView(const_cast<void*>(baseAddress));
    return TRUE;
}

WIN32_API HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    std::string objectName = name && *name ? std::string(name) : unnamedMutexName();
    if (objectName.size() > wire::kMaxName) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    uint64_t attachment = currentAttachment();
    auto reply = objectRequest(wire::Op::CreateMutex, objectName, 0, initialOwner ? 1 : 0);
    if (!reply) return nullptr;
    HANDLE handle = insertHandle(std::make_shared<Mutex>(attachment, reply->value));
    if (handle) SetLastError(static_cast<DWORD>(reply->status));
    return handle;
}

WIN32_API HANDLE WINAPI OpenMutexA(DWORD, BOOL, LPCSTR name) {
    if (!name || !*name || !validName(name)) {
        SetLastError(name && *name ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t attachment = currentAttachment();
    auto reply = objectRequest(wire::Op::OpenMutex, name, 0, 0);
    if (!reply) return nullptr;
    HANDLE handle = insertHandle(std::make_shared<Mutex>(attachment, reply->value));
    if (handle) SetLastError(ERROR_SUCCESS);
    return handle;
}

WIN32_API BOOL WINAPI ReleaseMutex(HANDLE handle) {
    auto mutex = lookupHandleAs<Mutex>(handle, HandleKind::Mutex);
    if (!mutex) return FALSE;
    return mutex->release();
}
