#include "object_manager.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <chrono>

namespace lxm {

namespace {
ObjectResult failed(uint32_t error) {
    ObjectResult r;
    r.error = error;
    return r;
}
}  // namespace

uint64_t ObjectManager::addHandle(uint32_t process, const std::shared_ptr<Object>& object) {
    ProcessHandles& p = processes_[process];
    uint64_t handle = p.nextHandle++;
    p.handles[handle] = object;
    ++object->handles;
    return handle;
}

std::shared_ptr<ObjectManager::Object> ObjectManager::find(uint32_t process, uint64_t handle) const {
    auto p = processes_.find(process);
    if (p == processes_.end()) return nullptr;
    auto h = p->second.handles.find(handle);
    return h == p->second.handles.end() ? nullptr : h->second;
}

void ObjectManager::dropHandle(std::shared_ptr<Object> object) {
    if (--object->handles != 0) return;
    byName_.erase(object->name);
    if (auto p = processes_.find(object->creator); p != processes_.end() && p->second.created > 0) --p->second.created;
}

void ObjectManager::setLimits(uint32_t handlesPerProcess, uint32_t createdPerProcess) {
    std::lock_guard guard(lock_);
    handleLimit_ = handlesPerProcess;
    createdLimit_ = createdPerProcess;
}

uint32_t ObjectManager::admit(uint32_t process, bool creates) const {
    if (gone_.contains(process)) return win32err::kProcessAborted;
    auto p = processes_.find(process);
    if (p == processes_.end()) return win32err::kSuccess;
    if (p->second.handles.size() >= handleLimit_) return win32err::kNotEnoughQuota;
    if (creates && p->second.created >= createdLimit_) return win32err::kNotEnoughQuota;
    return win32err::kSuccess;
}

ObjectResult ObjectManager::createMapping(uint32_t process, const std::string& name, uint64_t size) {
    std::lock_guard guard(lock_);
    ObjectResult r;
    if (auto it = byName_.find(name); it != byName_.end()) {
        if (uint32_t refused = admit(process, false)) return failed(refused);
        if (it->second->kind != ObjectKind::Mapping) return failed(win32err::kInvalidHandle);
        r.error = win32err::kAlreadyExists;
        r.handle = addHandle(process, it->second);
        r.size = it->second->size;
        r.fd = UniqueFd(::fcntl(it->second->memfd.get(), F_DUPFD_CLOEXEC, 0));
        return r;
    }
    if (size == 0) return failed(win32err::kInvalidParameter);
    if (uint32_t refused = admit(process, true)) return failed(refused);
    UniqueFd fd(::memfd_create(("lx-mapping:" + name).c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING));
    // Sealed after sizing: a holder that resizes the file would make every
    // other process's view of it fault.
    if (!fd.valid() || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0 ||
        ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
        return failed(win32err::kNotEnoughMemory);
    auto object = std::make_shared<Object>();
    object->name = name;
    object->kind = ObjectKind::Mapping;
    object->size = size;
    object->memfd = std::move(fd);
    object->creator = process;
    byName_[name] = object;
    ++processes_[process].created;
    r.handle = addHandle(process, object);
    r.size = size;
    r.fd = UniqueFd(::fcntl(object->memfd.get(), F_DUPFD_CLOEXEC, 0));
    return r;
}

ObjectResult ObjectManager::openMapping(uint32_t process, const std::string& name) {
    std::lock_guard guard(lock_);
    if (uint32_t refused = admit(process, false)) return failed(refused);
    auto it = byName_.find(name);
    if (it == byName_.end()) return failed(win32err::kFileNotFound);
    if (it->second->kind != ObjectKind::Mapping) return failed(win32err::kInvalidHandle);
    ObjectResult r;
    r.handle = addHandle(process, it->second);
    r.size = it->second->size;
    r.fd = UniqueFd(::fcntl(it->second->memfd.get(), F_DUPFD_CLOEXEC, 0));
    return r;
}

ObjectResult ObjectManager::createMutex(uint32_t process, uint64_t thread, const std::string& name,
                                        bool initialOwner) {
    std::lock_guard guard(lock_);
    ObjectResult r;
    if (auto it = byName_.find(name); it != byName_.end()) {
        if (uint32_t refused = admit(process, false)) return failed(refused);
        if (it->second->kind != ObjectKind::Mutex) return failed(win32err::kInvalidHandle);
        // An existing mutex is opened; the initial-owner request is ignored, as on Windows.
        r.error = win32err::kAlreadyExists;
        r.handle = addHandle(process, it->second);
        return r;
    }
    if (uint32_t refused = admit(process, true)) return failed(refused);
    auto object = std::make_shared<Object>();
    object->name = name;
    object->kind = ObjectKind::Mutex;
    object->creator = process;
    ++processes_[process].created;
    if (initialOwner) {
        object->ownerThread = thread;
        object->ownerProcess = process;
        object->recursion = 1;
    }
    byName_[name] = object;
    r.handle = addHandle(process, object);
    return r;
}

ObjectResult ObjectManager::openMutex(uint32_t process, const std::string& name) {
    std::lock_guard guard(lock_);
    if (uint32_t refused = admit(process, false)) return failed(refused);
    auto it = byName_.find(name);
    if (it == byName_.end()) return failed(win32err::kFileNotFound);
    if (it->second->kind != ObjectKind::Mutex) return failed(win32err::kInvalidHandle);
    ObjectResult r;
    r.handle = addHandle(process, it->second);
    return r;
}

uint32_t ObjectManager::close(uint32_t process, uint64_t handle) {
    std::lock_guard guard(lock_);
    auto p = processes_.find(process);
    if (p == processes_.end()) return win32err::kInvalidHandle;
    auto h = p->second.handles.find(handle);
    if (h == p->second.handles.end()) return win32err::kInvalidHandle;
    // Closing a handle does not release an owned mutex (Windows keeps it owned
    // until the thread releases it or ends).
    dropHandle(h->second);
    p->second.handles.erase(h);
    return win32err::kSuccess;
}

uint32_t ObjectManager::wait(uint32_t process, uint64_t thread, uint64_t handle, uint32_t timeoutMs,
                             uint32_t* error) {
    std::unique_lock guard(lock_);
    std::shared_ptr<Object> object = find(process, handle);
    if (!object || object->kind != ObjectKind::Mutex) {
        *error = win32err::kInvalidHandle;
        return kWaitFailed;
    }
    const uint64_t generation = cancelGeneration_;
    auto acquirable = [&] { return object->ownerThread == 0 || object->ownerThread == thread; };
    auto ended = [&] { return cancelGeneration_ != generation || gone_.contains(process); };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!acquirable() && !ended()) {
        if (timeoutMs == 0xFFFFFFFFu) {
            changed_.wait(guard);
        } else if (changed_.wait_until(guard, deadline) == std::cv_status::timeout && !acquirable()) {
            return kWaitTimeout;
        }
    }
    if (!acquirable()) {
        *error = win32err::kOperationAborted;
        return kWaitFailed;
    }
    object->ownerThread = thread;
    object->ownerProcess = process;
    ++object->recursion;
    if (object->abandoned) {
        object->abandoned = false;
        return kWaitAbandoned;
    }
    return kWaitObject0;
}

uint32_t ObjectManager::releaseMutex(uint32_t process, uint64_t thread, uint64_t handle) {
    std::lock_guard guard(lock_);
    std::shared_ptr<Object> object = find(process, handle);
    if (!object || object->kind != ObjectKind::Mutex) return win32err::kInvalidHandle;
    if (object->ownerThread != thread || object->recursion == 0) return win32err::kNotOwner;
    if (--object->recursion == 0) {
        object->ownerThread = 0;
        object->ownerProcess = 0;
        changed_.notify_all();
    }
    return win32err::kSuccess;
}

void ObjectManager::abandonWhere(bool (*match)(const Object&, uint64_t), uint64_t key) {
    bool any = false;
    for (auto& [name, object] : byName_) {
        if (object->kind == ObjectKind::Mutex && object->ownerThread != 0 && match(*object, key)) {
            object->ownerThread = 0;
            object->ownerProcess = 0;
            object->recursion = 0;
            object->abandoned = true;
            any = true;
        }
    }
    if (any) changed_.notify_all();
}

void ObjectManager::threadExited(uint64_t thread) {
    std::lock_guard guard(lock_);
    abandonWhere([](const Object& o, uint64_t t) { return o.ownerThread == t; }, thread);
}

void ObjectManager::processExited(uint32_t process) {
    std::lock_guard guard(lock_);
    abandonWhere([](const Object& o, uint64_t p) { return o.ownerProcess == p; }, process);
    if (auto p = processes_.find(process); p != processes_.end()) {
        for (auto& [handle, object] : p->second.handles) dropHandle(object);
        processes_.erase(p);
    }
    gone_[process] = true;
    changed_.notify_all();
}

void ObjectManager::cancelAllWaits() {
    std::lock_guard guard(lock_);
    ++cancelGeneration_;
    changed_.notify_all();
}

std::vector<ObjectSummary> ObjectManager::objects() const {
    std::lock_guard guard(lock_);
    std::vector<ObjectSummary> out;
    for (const auto& [name, o] : byName_) out.push_back({name, o->kind, o->size, o->handles, o->ownerProcess});
    return out;
}

std::vector<std::pair<uint64_t, std::string>> ObjectManager::handlesOf(uint32_t process) const {
    std::lock_guard guard(lock_);
    std::vector<std::pair<uint64_t, std::string>> out;
    if (auto p = processes_.find(process); p != processes_.end())
        for (const auto& [handle, object] : p->second.handles) out.emplace_back(handle, object->name);
    return out;
}

}  // namespace lxm
