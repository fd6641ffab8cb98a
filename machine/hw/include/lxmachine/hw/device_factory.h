// Device models by kind. The machine creates the functions named in its
// configuration through this list; a new model registers a maker here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lxmachine/hw/pci_function.h"
#include "lxmachine/machine_config.h"

namespace lxhw {

class PhysicalMemory;

// What a maker gets: the machine's configuration and which entry of the
// kind's list (e.g. the n-th TernCard) is wanted.
struct DeviceRequest {
    const lxm::MachineConfig* machine = nullptr;
    const lxm::TernCardConfig* ternCard = nullptr;
    const lxm::HeronAudioConfig* heronAudio = nullptr;
    // Where bus-master devices read and write (the TernCard's DMA engine).
    PhysicalMemory* memory = nullptr;
};

using DeviceMaker = std::function<std::shared_ptr<PciFunction>(const DeviceRequest&)>;

struct DeviceKind {
    std::string name;
    DeviceMaker make;
};

// Built-in kinds: "terncard" and "heron_audio".
const std::vector<DeviceKind>& deviceKinds();
// Null when the kind is unknown.
std::shared_ptr<PciFunction> makeDevice(const std::string& kind, const DeviceRequest& request);

}  // namespace lxhw
