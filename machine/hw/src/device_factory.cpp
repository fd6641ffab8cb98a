#include "lxmachine/hw/device_factory.h"

#include "lxmachine/hw/heron/heron_audio.h"
#include "lxmachine/hw/terncard/terncard.h"

namespace lxhw {
namespace {

std::shared_ptr<PciFunction> makeTernCard(const DeviceRequest& request) {
    tern::TernCardSetup setup;
    if (const lxm::TernCardConfig* card = request.ternCard) {
        setup.signature = card->signature;
        setup.revision = card->revision;
        setup.boardSwitch = card->boardSwitch;
        setup.sources = card->sources;
        if (request.machine && !request.machine->terncards.empty()) {
            const auto index = card - request.machine->terncards.data();
            if (index >= 0 && static_cast<size_t>(index) < request.machine->terncards.size()) {
                const std::string number = std::to_string(index + 1);
                setup.serial = "TC" + std::string(10 - number.size(), '0') + number;
            }
        }
    }
    if (request.machine) setup.clockFactor = request.machine->clockFactor;
    return std::make_shared<tern::TernCard>(setup, request.memory);
}

std::shared_ptr<PciFunction> makeHeronAudio(const DeviceRequest& request) {
    heron::HeronAudioSetup setup;
    if (const lxm::HeronAudioConfig* audio = request.heronAudio) {
        setup.blockRate = audio->rate;
        setup.portSpace = audio->port;
    }
    if (request.machine) setup.clockFactor = request.machine->clockFactor;
    return std::make_shared<heron::HeronAudio>(setup);
}

}  // namespace

const std::vector<DeviceKind>& deviceKinds() {
    static const std::vector<DeviceKind> kinds{
        {"terncard", makeTernCard},
        {"heron_audio", makeHeronAudio},
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
