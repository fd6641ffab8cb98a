// Drivers as shared objects: loaded by service name from the registry's
// service key (ImagePath, relative to the machine's driver directory),
// DriverEntry called with the service key path, unloaded through
// DriverUnload before the module is closed.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ntddk.h"

namespace nt {

class Registry;

struct LoadedDriver {
    std::string service;
    std::string image;  // file that was loaded
    void* module = nullptr;
    PDRIVER_OBJECT object = nullptr;
    bool pnp = false;  // has AddDevice
};

struct DriverFailure {
    std::string service;
    std::string error;
};

class DriverLoader {
public:
    static constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";

    DriverLoader(Registry& registry, std::string directory);
    ~DriverLoader();

    // The driver of a service, loading it when needed; null (and a recorded
    // failure) when it cannot be loaded or its DriverEntry fails.
    LoadedDriver* load(const std::string& service);
    LoadedDriver* find(const std::string& service) const;
    void unload(LoadedDriver* driver);
    void unloadAll();

    std::vector<const LoadedDriver*> loaded() const;
    std::vector<DriverFailure> failures() const;

    // A kernel-internal driver (the PCI bus driver) that owns no module.
    static PDRIVER_OBJECT makeDriverObject(const std::string& name);
    static void freeDriverObject(PDRIVER_OBJECT object);

private:
    void fail(const std::string& service, const std::string& error);
    // Deletes the devices and links a driver still has.
    void removeLeftovers(const std::string& service, PDRIVER_OBJECT object);

    Registry& registry_;
    const std::string directory_;
    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<LoadedDriver>> drivers_;
    std::vector<DriverFailure> failures_;
};

}  // namespace nt
