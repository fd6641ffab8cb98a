// The object namespace of devices: device names, symbolic links and device
// interfaces, all compared without regard to case. "\DosDevices\X",
// "\GLOBAL??\X", "\\.\X" and "\\?\X" all name "\??\X".
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ntddk.h"

namespace nt {

class ObjectNamespace {
public:
    struct Interface {
        std::string link;  // "\??\PCI#...#{guid}"
        GUID guid;
        PDEVICE_OBJECT pdo;
        bool enabled;
    };

    static std::string canonical(const std::string& name);

    void addDevice(PDEVICE_OBJECT device);
    void dropDevice(PDEVICE_OBJECT device);
    bool isDevice(PDEVICE_OBJECT device) const;
    std::vector<PDEVICE_OBJECT> devices() const;

    NTSTATUS nameDevice(const std::string& name, PDEVICE_OBJECT device);
    void unnameDevice(const std::string& name);
    PDEVICE_OBJECT deviceByName(const std::string& name) const;

    // `owner` is the driver that made the link (null for the kernel's own).
    NTSTATUS createLink(const std::string& link, const std::string& target, PDRIVER_OBJECT owner = nullptr);
    NTSTATUS deleteLink(const std::string& link);
    // Removes the links `owner` made; returns their names.
    std::vector<std::string> deleteLinksOf(PDRIVER_OBJECT owner);
    std::optional<std::string> linkTarget(const std::string& link) const;

    // Registering twice returns the same link.
    std::string registerInterface(PDEVICE_OBJECT pdo, const std::string& instancePath, const GUID& guid,
                                  const std::string& reference);
    NTSTATUS setInterfaceState(const std::string& link, bool enable, const std::string& pdoName);
    void dropInterfacesOf(PDEVICE_OBJECT pdo);
    std::vector<Interface> interfaces() const;

    // Device behind a path as user mode names it ("\\.\X", "\\?\X", "\??\X",
    // "\Device\X"), following links; null when nothing answers.
    PDEVICE_OBJECT resolve(const std::string& path) const;

private:
    mutable std::mutex mutex_;
    std::set<PDEVICE_OBJECT> devices_;
    std::map<std::string, PDEVICE_OBJECT> names_;  // lower-case name -> device
    struct Link {
        std::string target;
        PDRIVER_OBJECT owner;
    };
    std::map<std::string, Link> links_;  // lower-case link -> target
    std::vector<Interface> interfaces_;
};

}  // namespace nt
