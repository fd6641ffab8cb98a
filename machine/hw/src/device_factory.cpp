#include "lxmachine/hw/device_factory.h"

#include "lxmachine/hw/placeholder_function.h"

namespace lxhw {
namespace {

std::shared_ptr<PciFunction> makeTernCard(const DeviceRequest& request) {
    PciIdentity id;
    id.vendor = pci::kLxVendor;
    id.device = pci::kTernCardDevice;
    id.baseClass = 0x04;  // multimedia
    id.subclass = 0x00;   // video
    id.revision = request.ternCard ? request.ternCard->revision : 0x21;
    id.subsystemVendor = pci::kLxVendor;
    id.subsystem = 0x0001;
    return std::make_shared<PlaceholderFunction>("terncard", id, 0x1000);
}

std::shared_ptr<PciFunction> makeHeronAudio(const DeviceRequest&) {
    PciIdentity id;
    id.vendor = pci::kLxVendor;
    id.device = pci::kHeronAudioDevice;
    id.baseClass = 0x04;
    id.subclass = 0x01;  // audio
    id.revision = 0x01;
    id.subsystemVendor = pci::kLxVendor;
    id.subsystem = 0x0001;
    return std::make_shared<PlaceholderFunction>("heron", id, 0x1000);
}

}  // namespace

const std::vector<DeviceKind>& deviceKinds() {
    static const std::vector<DeviceKind> kinds{
        {"terncard", makeTernCard},
        {"heron", makeHeronAudio},
    };
    return kinds;
}

std::shared_ptr<PciFunction> makeDevice(const std::string& kind, const DeviceRequest& request) {
    for (const DeviceKind& k : deviceKinds()) {
        if (k.name == kind) return k.make(request);
    }
    return nullptr;
}

}  // namespace lxhw
