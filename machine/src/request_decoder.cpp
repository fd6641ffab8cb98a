#include "lxmachine/request.h"

namespace lxm {

using wire::Op;
using wire::PayloadReader;

namespace {

bool reject(std::string* why, const char* reason) {
    if (why) *why = reason;
    return false;
}

// A name must be present, bounded, and hide no NUL (the C side would see a
// shorter one).
bool readName(PayloadReader& reader, uint32_t length, std::string_view* out, std::string* why) {
    if (length == 0 || length > wire::kMaxName) return reject(why, "name length out of range");
    if (!reader.text(length, out)) return reject(why, "name runs past the payload");
    if (out->find('\0') != std::string_view::npos) return reject(why, "name contains a NUL byte");
    return true;
}

bool decodeRegistry(PayloadReader& reader, Request& r, std::string* why) {
    if (!reader.record(&r.registry)) return reject(why, "short registry record");
    const auto& rec = r.registry;
    if (!readName(reader, rec.keyLength, &r.name, why)) return false;
    const bool wantsValue = r.op == Op::RegQuery || r.op == Op::RegSet || r.op == Op::RegDelete;
    if (wantsValue) {
        // The unnamed (default) value has an empty name.
        if (rec.valueNameLength > wire::kMaxName) return reject(why, "value name too long");
        if (!reader.text(rec.valueNameLength, &r.valueName)) return reject(why, "value name runs past the payload");
        if (r.valueName.find('\0') != std::string_view::npos) return reject(why, "value name contains a NUL byte");
    } else if (rec.valueNameLength != 0) {
        return reject(why, "unexpected value name");
    }
    if (r.op == Op::RegSet) {
        if (rec.dataLength > wire::kMaxIoBuffer) return reject(why, "value data too long");
        if (!reader.bytes(rec.dataLength, &r.data)) return reject(why, "value data runs past the payload");
    } else if (rec.dataLength != 0) {
        return reject(why, "unexpected value data");
    }
    return true;
}

bool decodeBody(PayloadReader& reader, Request& r, std::string* why) {
    switch (r.op) {
    case Op::Hello:
        if (!reader.record(&r.hello)) return reject(why, "short hello");
        if (r.hello.protocolVersion != wire::kProtocolVersion) return reject(why, "protocol version mismatch");
        if (r.hello.role < 1 || r.hello.role > 3) return reject(why, "unknown role");
        if ((r.hello.flags & ~wire::kHelloRequestChannel) != 0 ||
            (r.hello.flags != 0 && r.hello.role != static_cast<uint32_t>(wire::Role::Thread)))
            return reject(why, "unknown hello flags");
        return true;
    case Op::CreateFile: {
        wire::PathRecord path{};
        if (!reader.record(&path)) return reject(why, "short path record");
        return readName(reader, path.pathLength, &r.name, why);
    }
    case Op::CloseFile:
    case Op::CloseObject:
    case Op::ReleaseMutex:
        return reader.record(&r.handle) || reject(why, "short handle record");
    case Op::DeviceIoControl:
        if (!reader.record(&r.ioctl)) return reject(why, "short ioctl record");
        if (r.ioctl.inputLength > wire::kMaxIoBuffer || r.ioctl.outputLength > wire::kMaxIoBuffer)
            return reject(why, "ioctl buffer too large");
        return reader.bytes(r.ioctl.inputLength, &r.data) || reject(why, "ioctl input runs past the payload");
    case Op::ReadFile:
        if (!reader.record(&r.transfer)) return reject(why, "short transfer record");
        return r.transfer.length <= wire::kMaxIoBuffer || reject(why, "read buffer too large");
    case Op::WriteFile:
        if (!reader.record(&r.transfer)) return reject(why, "short transfer record");
        if (r.transfer.length > wire::kMaxIoBuffer) return reject(why, "write buffer too large");
        return reader.bytes(r.transfer.length, &r.data) || reject(why, "write data runs past the payload");
    case Op::InterfacePaths:
        return reader.record(&r.guid) || reject(why, "short guid");
    case Op::RegQuery:
    case Op::RegSet:
    case Op::RegDelete:
    case Op::RegKeyExists:
    case Op::RegCreateKey:
        return decodeRegistry(reader, r, why);
    case Op::CreateMapping:
    case Op::OpenMapping:
    case Op::CreateMutex:
    case Op::OpenMutex:
        if (!reader.record(&r.object)) return reject(why, "short object record");
        if (r.op == Op::CreateMapping && (r.object.size == 0 || r.object.size > (uint64_t{1} << 32)))
            return reject(why, "mapping size out of range");
        return readName(reader, r.object.nameLength, &r.name, why);
    case Op::WaitObject:
        return reader.record(&r.wait) || reject(why, "short wait record");
    case Op::AddView:
    case Op::RemoveView:
        return reader.record(&r.view) || reject(why, "short view record");
    case Op::Version:
    case Op::DisplayMode:
    case Op::Shutdown:
    case Op::Reboot:
        return true;
    case Op::Status:
        return reader.record(&r.status) || reject(why, "short status record");
    case Op::Plug:
        if (!reader.record(&r.plug)) return reject(why, "short plug record");
        if (r.plug.signature > 1 || r.plug.revision > 0xFF || r.plug.boardSwitch > 3)
            return reject(why, "plug values out of range");
        return true;
    case Op::PlugAudio:
        if (!reader.record(&r.audioPlug)) return reject(why, "short audio plug record");
        return r.audioPlug.portSpace <= 1 || reject(why, "port flag out of range");
    case Op::Unplug:
    case Op::UnplugAudio:
        if (!reader.record(&r.unplug)) return reject(why, "short unplug record");
        return r.unplug.surprise <= 1 || reject(why, "surprise flag out of range");
    case Op::Display:
        return reader.record(&r.display) || reject(why, "short display record");
    case Op::CardSource:
        if (!reader.record(&r.cardSource)) return reject(why, "short card source record");
        if (r.cardSource.number == 0 || r.cardSource.input > 3) return reject(why, "card or input out of range");
        return readName(reader, r.cardSource.sourceLength, &r.name, why);
    case Op::CardSwitch:
        if (!reader.record(&r.cardSwitch)) return reject(why, "short card switch record");
        if (r.cardSwitch.number == 0 || r.cardSwitch.bits > 3) return reject(why, "card or switch bits out of range");
        return true;
    default:
        return reject(why, "not a request opcode");
    }
}

}  // namespace

std::optional<Request> decodeRequest(const wire::FrameHeader& header, std::span<const uint8_t> payload,
                                     std::string* why) {
    if (!wire::headerValid(header, why)) return std::nullopt;
    if (payload.size() != header.length) {
        reject(why, "payload length differs from the header");
        return std::nullopt;
    }
    Request r;
    r.op = static_cast<Op>(header.opcode);
    r.requestId = header.requestId;
    PayloadReader reader(payload);
    if (!decodeBody(reader, r, why)) return std::nullopt;
    if (!reader.complete()) {
        reject(why, "trailing bytes after the request");
        return std::nullopt;
    }
    return r;
}

}  // namespace lxm
