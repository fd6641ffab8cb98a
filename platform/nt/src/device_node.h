// One PCI function as the PnP manager sees it: its physical device object,
// identifiers, resources, driver and PnP state.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "lxmachine/hw/pci_bus.h"
#include "ntddk.h"

namespace nt {

struct LoadedDriver;

enum class NodeState {
    Present,          // enumerated, no driver (or none matched)
    Added,            // AddDevice ran
    Started,
    Stopped,          // query-stop and stop accepted; resources released
    QueryRemoved,     // transient: between query-remove and remove
    SurpriseRemoved,  // gone; the remove waits for the last handle
    Removed,
    Failed,
};

const char* nodeStateName(NodeState state);

struct DeviceNode {
    lxhw::PciAddress address;
    std::shared_ptr<lxhw::PciFunction> function;
    PDEVICE_OBJECT pdo = nullptr;
    std::string instanceId;  // "PCI\VEN_xxxx&DEV_xxxx&SUBSYS_xxxxxxxx&REV_xx\b&d&f"
    std::vector<std::string> hardwareIds;  // most specific first
    std::string service;                   // driver service serving it, empty when none
    LoadedDriver* driver = nullptr;
    std::atomic<NodeState> state{NodeState::Present};
    std::string problem;
    std::vector<uint8_t> rawResources;         // CM_RESOURCE_LIST
    std::vector<uint8_t> translatedResources;  // CM_RESOURCE_LIST
};

}  // namespace nt
