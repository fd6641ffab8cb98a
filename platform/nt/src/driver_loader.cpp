#include "driver_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "bug_check.h"
#include "device_runtime.h"
#include "dpc_queue.h"
#include "irp.h"
#include "log.h"
#include "object_namespace.h"
#include "registry.h"
#include "runtime.h"
#include "unicode_text.h"
#include "verifier.h"

namespace nt {
namespace {

std::string imageFile(const std::string& directory, const std::string& imagePath) {
    // "\SystemRoot\System32\Drivers\X.sys" style values name the file only.
    std::string file = imagePath;
    if (auto slash = file.find_last_of("\\/"); slash != std::string::npos && file[0] != '/') file = file.substr(slash + 1);
    if (file.size() > 4 && equalsIgnoreCase(file.substr(file.size() - 4), ".sys")) file = file.substr(0, file.size() - 4) + ".so";
    if (!file.empty() && file[0] == '/') return file;
    for (const std::string& candidate : {directory + "/" + file, directory + "/lib" + file}) {
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return directory + "/" + file;
}

}  // namespace

DriverLoader::DriverLoader(Registry& registry, std::string directory)
    : registry_(registry), directory_(std::move(directory)) {}

DriverLoader::~DriverLoader() { unloadAll(); }

PDRIVER_OBJECT DriverLoader::makeDriverObject(const std::string& name) {
    auto* object = static_cast<PDRIVER_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, sizeof(DRIVER_OBJECT), 'virD'));
    auto* extension =
        static_cast<PDRIVER_EXTENSION>(ExAllocatePoolWithTag(NonPagedPool, sizeof(DRIVER_EXTENSION), 'virD'));
    if (!object || !extension) {
        ExFreePool(object);
        ExFreePool(extension);
        return nullptr;
    }
    std::memset(object, 0, sizeof *object);
    std::memset(extension, 0, sizeof *extension);
    object->Type = 4;
    object->Size = sizeof *object;
    object->DriverExtension = extension;
    extension->DriverObject = object;
    makeUnicodeString("\\Driver\\" + name, &object->DriverName);
    makeUnicodeString(name, &extension->ServiceKeyName);
    for (auto& dispatch : object->MajorFunction) dispatch = invalidDeviceRequest;
    return object;
}

void DriverLoader::freeDriverObject(PDRIVER_OBJECT object) {
    if (!object) return;
    RtlFreeUnicodeString(&object->DriverName);
    RtlFreeUnicodeString(&object->DriverExtension->ServiceKeyName);
    ExFreePool(object->DriverExtension);
    ExFreePool(object);
}

void DriverLoader::fail(const std::string& service, const std::string& error) {
    klog("driver %s: %s", service.c_str(), error.c_str());
    for (DriverFailure& failure : failures_) {
        if (equalsIgnoreCase(failure.service, service)) {
            failure.error = error;
            return;
        }
    }
    failures_.push_back({service, error});
}

LoadedDriver* DriverLoader::find(const std::string& service) const {
    std::lock_guard lock(mutex_);
    for (const auto& driver : drivers_) {
        if (equalsIgnoreCase(driver->service, service)) return driver.get();
    }
    return nullptr;
}

LoadedDriver* DriverLoader::load(const std::string& service) {
    std::lock_guard lock(mutex_);
    if (LoadedDriver* driver = find(service)) return driver;
    const std::string key = std::string(kServicesKey) + "\\" + service;
    std::string imagePath;
    if (!registry_.queryString(key, "ImagePath", &imagePath)) imagePath = service + ".so";
    const std::string file = imageFile(directory_, imagePath);
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        fail(service, std::string("cannot load ") + file + ": " + (why ? why : "unknown error"));
        return nullptr;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(module, "DriverEntry"));
    if (!entry) {
        fail(service, file + " has no DriverEntry");
        dlclose(module);
        return nullptr;
    }
    PDRIVER_OBJECT object = makeDriverObject(service);
    if (!object) {
        dlclose(module);
        fail(service, "out of pool");
        return nullptr;
    }
    object->DriverInit = entry;
    object->DriverStart = module;
    UNICODE_STRING registryPath{};
    makeUnicodeString("\\Registry\\Machine\\" + key, &registryPath);
    registerDriverModule(object, reinterpret_cast<const void*>(entry), service);
    NTSTATUS status;
    {
        DriverCallScope call(object, "DriverEntry");
        status = entry(object, &registryPath);
    }
    RtlFreeUnicodeString(&registryPath);
    if (!NT_SUCCESS(status)) {
        char text[64];
        std::snprintf(text, sizeof text, "DriverEntry failed with 0x%08X", static_cast<unsigned>(status));
        fail(service, text);
        // Nothing of a failed driver may outlive its code: a request reaching
        // a device or link it left would run freed code and memory.
        removeLeftovers(service, object);
        unregisterDriverModule(object);
        freeDriverObject(object);
        dlclose(module);
        return nullptr;
    }
    auto driver = std::make_unique<LoadedDriver>();
    driver->service = service;
    driver->image = file;
    driver->module = module;
    driver->object = object;
    driver->pnp = object->DriverExtension->AddDevice != nullptr;
    klog("driver %s loaded from %s", service.c_str(), file.c_str());
    std::erase_if(failures_, [&](const DriverFailure& f) { return equalsIgnoreCase(f.service, service); });
    drivers_.push_back(std::move(driver));
    return drivers_.back().get();
}

void DriverLoader::unload(LoadedDriver* driver) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(drivers_.begin(), drivers_.end(), [&](const auto& d) { return d.get() == driver; });
    if (it == drivers_.end()) return;
    if (driver->object->DriverUnload) {
        DriverCallScope call(driver->object, "DriverUnload");
        driver->object->DriverUnload(driver->object);
    }
    removeLeftovers(driver->service, driver->object);
    // A DPC routine of the driver still queued or running would run unmapped
    // code: such a driver's module stays loaded (and is logged).
    Runtime* rt = runtime();
    const bool codeInUse = rt && rt->dpcs && !rt->dpcs->flushDriver(driver->object, driverWaitLimit());
    unregisterDriverModule(driver->object);
    freeDriverObject(driver->object);
    if (!codeInUse) dlclose(driver->module);
    klog("driver %s unloaded%s", driver->service.c_str(), codeInUse ? "; its code stays for its DPC routine" : "");
    drivers_.erase(it);
}

void DriverLoader::removeLeftovers(const std::string& service, PDRIVER_OBJECT object) {
    Runtime* rt = runtime();
    if (rt && rt->objects) {
        for (const std::string& link : rt->objects->deleteLinksOf(object))
            klog("driver %s left the symbolic link %s behind", service.c_str(), link.c_str());
    }
    while (PDEVICE_OBJECT left = object->DeviceObject) {
        const std::string name = deviceRuntime(left)->name;
        klog("driver %s left the device %s behind", service.c_str(), name.empty() ? "(unnamed)" : name.c_str());
        IoDeleteDevice(left);
    }
    DriverCallScope call(object, "DriverUnload");
    verifier::checkUnload(object, service);
}

void DriverLoader::unloadAll() {
    for (;;) {
        LoadedDriver* last = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (drivers_.empty()) return;
            last = drivers_.back().get();
        }
        unload(last);
    }
}

std::vector<const LoadedDriver*> DriverLoader::loaded() const {
    std::lock_guard lock(mutex_);
    std::vector<const LoadedDriver*> result;
    for (const auto& d : drivers_) result.push_back(d.get());
    return result;
}

std::vector<DriverFailure> DriverLoader::failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

}  // namespace nt
