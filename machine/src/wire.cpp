#include "lxmachine/wire.h"

namespace lxm::wire {

bool headerValid(const FrameHeader& header, std::string* why) {
    const char* reason = nullptr;
    if (header.magic != kMagic)
        reason = "bad frame magic";
    else if (header.flags != 0)
        reason = "reserved frame flags set";
    else if (header.length > kMaxPayload)
        reason = "frame payload too large";
    if (reason && why) *why = reason;
    return reason == nullptr;
}

const char* opName(Op op) {
    switch (op) {
    case Op::Hello: return "hello";
    case Op::CreateFile: return "create-file";
    case Op::CloseFile: return "close-file";
    case Op::DeviceIoControl: return "device-io-control";
    case Op::ReadFile: return "read-file";
    case Op::WriteFile: return "write-file";
    case Op::InterfacePaths: return "interface-paths";
    case Op::RegQuery: return "reg-query";
    case Op::RegSet: return "reg-set";
    case Op::RegDelete: return "reg-delete";
    case Op::RegKeyExists: return "reg-key-exists";
    case Op::RegCreateKey: return "reg-create-key";
    case Op::CreateMapping: return "create-mapping";
    case Op::OpenMapping: return "open-mapping";
    case Op::CreateMutex: return "create-mutex";
    case Op::OpenMutex: return "open-mutex";
    case Op::CloseObject: return "close-object";
    case Op::ReleaseMutex: return "release-mutex";
    case Op::WaitObject: return "wait-object";
    case Op::AddView: return "add-view";
    case Op::RemoveView: return "remove-view";
    case Op::Version: return "version";
    case Op::DisplayMode: return "display-mode";
    case Op::Status: return "status";
    case Op::Shutdown: return "shutdown";
    case Op::Reboot: return "reboot";
    case Op::Plug: return "plug";
    case Op::Unplug: return "unplug";
    case Op::Display: return "display";
    case Op::CardSource: return "card-source";
    case Op::CardSwitch: return "card-switch";
    case Op::PlugAudio: return "plug-audio";
    case Op::UnplugAudio: return "unplug-audio";
    case Op::MapPhysical: return "map-physical";
    case Op::UnmapPhysical: return "unmap-physical";
    case Op::Reply: return "reply";
    case Op::MapReply: return "map-reply";
    }
    return "unknown";
}

}  // namespace lxm::wire
