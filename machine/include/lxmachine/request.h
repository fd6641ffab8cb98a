// A client request after decoding: the fixed record of its opcode and views
// into the payload for its variable parts. Decoding checks every length
// against the payload and the protocol's bounds, so handlers never see a
// malformed request.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lxmachine/wire.h"

namespace lxm {

struct Request {
    wire::Op op{};
    uint32_t requestId = 0;
    // Exactly one of these is meaningful, chosen by op.
    wire::HelloRecord hello{};
    wire::IoctlRecord ioctl{};
    wire::TransferRecord transfer{};
    wire::HandleRecord handle{};
    wire::GuidRecord guid{};
    wire::RegistryRecord registry{};
    wire::NamedObjectRecord object{};
    wire::WaitRecord wait{};
    wire::ViewRecord view{};
    wire::StatusRecord status{};
    wire::PlugRecord plug{};
    wire::UnplugRecord unplug{};
    wire::AudioPlugRecord audioPlug{};
    wire::DisplayRecord display{};
    wire::CardSourceRecord cardSource{};  // the source name is in `name`
    wire::CardSwitchRecord cardSwitch{};
    // Variable parts: path / key / object name, registry value name, data.
    std::string_view name;
    std::string_view valueName;
    std::span<const uint8_t> data;
};

// Decodes the payload of a client-to-daemon frame. Returns nothing (and a
// reason) for an unknown opcode, a payload of the wrong size or a length
// field beyond its bounds.
std::optional<Request> decodeRequest(const wire::FrameHeader& header, std::span<const uint8_t> payload,
                                     std::string* why);

}  // namespace lxm
