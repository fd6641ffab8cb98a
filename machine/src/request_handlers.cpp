// What the daemon does with each decoded request.
#include <algorithm>
#include <cstdio>

#include "lxmachine/nt_status_codes.h"
#include "machine_daemon.h"

namespace lxm {

using wire::Op;

namespace {

// Marks the running thread as serving a request of this process, so that the
// kernel's calls back into the process find their way.
class InCallerContext {
public:
    InCallerContext(Connection& c, uint32_t requestId)
        : context_{c.socket.get(), requestId, c.process.get(), c.servingChannel ? c.channel.get() : nullptr} {
        currentRequest() = &context_;
    }
    ~InCallerContext() { currentRequest() = nullptr; }

private:
    RequestContext context_;
};

std::string text(std::string_view s) { return std::string(s); }

uint32_t buildNumberOf(const OsConfig& os) {
    struct Known {
        uint32_t major, minor, build;
    };
    static constexpr Known known[] = {{5, 1, 2600}, {6, 0, 6002}, {6, 1, 7601}, {6, 2, 9200}, {6, 3, 9600},
                                      {10, 0, 19045}};
    for (const auto& k : known)
        if (k.major == os.major && k.minor == os.minor) return k.build;
    return 0;
}

}  // namespace

bool MachineDaemon::reply(Connection& c, uint32_t id, int32_t status, uint32_t information, uint64_t value,
                          std::span<const uint8_t> data, std::span<const int> fds) {
    const wire::ReplyRecord record{status, information, value, static_cast<uint32_t>(data.size()),
                                   static_cast<uint32_t>(fds.size())};
    // Gathered from where they are: a large output is not copied behind its record.
    const std::span<const uint8_t> parts[] = {
        std::span(reinterpret_cast<const uint8_t*>(&record), sizeof record), data};
    return sendToClient(c, Op::Reply, id, parts, fds);
}

bool MachineDaemon::sendToClient(Connection& c, Op op, uint32_t id, wire::FrameParts payload,
                                 std::span<const int> fds) {
    if (!c.servingChannel) return sendFrameParts(c.socket.get(), op, id, payload, fds) == IoResult::Ok;
    size_t length = 0;
    for (const auto& part : payload) length += part.size();
    if (fds.empty() && c.channel->replyFits(length)) {
        c.channel->postReplyParts(op, id, payload);
        return true;
    }
    if (sendFrameParts(c.socket.get(), op, id, payload, fds) != IoResult::Ok) return false;
    c.channel->ringReply(channel::Post::OnSocket);
    return true;
}

bool MachineDaemon::replyText(Connection& c, uint32_t id, int32_t status, const std::string& s) {
    return reply(c, id, status, 0, 0, std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

bool MachineDaemon::handle(Connection& c, const Request& r, std::vector<uint8_t>& storage) {
    const bool control = c.role == wire::Role::Control;
    switch (r.op) {
    case Op::CreateFile:
    case Op::CloseFile:
    case Op::DeviceIoControl:
    case Op::ReadFile:
    case Op::WriteFile:
        if (control) return false;
        handleKernelIo(c, r, storage);
        return true;
    case Op::InterfacePaths:
    case Op::RegQuery:
    case Op::RegSet:
    case Op::RegDelete:
    case Op::RegKeyExists:
    case Op::RegCreateKey:
        handleRegistry(c, r);
        return true;
    case Op::CreateMapping:
    case Op::OpenMapping:
    case Op::CreateMutex:
    case Op::OpenMutex:
    case Op::CloseObject:
    case Op::ReleaseMutex:
    case Op::WaitObject:
    case Op::AddView:
    case Op::RemoveView:
        if (control) return false;
        handleObject(c, r);
        return true;
    case Op::Version: {
        wire::VersionRecord v{};
        {
            std::shared_lock kernel(kernelLock_);
            v = wire::VersionRecord{config_.os.major, config_.os.minor, buildNumberOf(config_.os),
                                    config_.os.workstation ? 1u : 0u};
        }
        return reply(c, r.requestId, ntstatus::kSuccess, 0, 0,
                     std::span(reinterpret_cast<const uint8_t*>(&v), sizeof v));
    }
    case Op::DisplayMode: {
        nt::Kernel::DisplaySurface s;
        {
            std::shared_lock kernel(kernelLock_);
            if (kernel_) s = kernel_->displaySurface();
        }
        wire::DisplayModeRecord m{s.width,   s.height,    s.bits, s.pitch, s.redMask, s.greenMask,
                                  s.blueMask, 0, s.frameBufferPhysical, s.frameBufferSize};
        return reply(c, r.requestId, s.frameBufferSize != 0 ? ntstatus::kSuccess : ntstatus::kDeviceNotConnected,
                     0, 0, std::span(reinterpret_cast<const uint8_t*>(&m), sizeof m));
    }
    case Op::Status:
    case Op::Shutdown:
    case Op::Reboot:
    case Op::Plug:
    case Op::Unplug:
    case Op::PlugAudio:
    case Op::UnplugAudio:
    case Op::Display:
    case Op::CardSource:
    case Op::CardSwitch:
        if (!control) return false;
        handleControl(c, r);
        return true;
    default:
        return false;
    }
}

// Answered after the kernel lock is released: a client that stops reading
// its socket keeps no reboot from the kernel.
void MachineDaemon::handleKernelIo(Connection& c, const Request& r, std::vector<uint8_t>& storage) {
    KernelIoResult result;
    {
        std::shared_lock kernel(kernelLock_);
        result = runKernelIo(c, r, storage);
    }
    reply(c, r.requestId, result.status, result.information, result.value, result.data);
}

// Called under the kernel lock. Outputs are written into the request's own
// storage: a DeviceIoControl's over its input (the kernel has read all of
// the input before it writes any output), a read's after its record. So a
// large request costs its payload plus the kernel's system buffer, and the
// reply is sent from there.
MachineDaemon::KernelIoResult MachineDaemon::runKernelIo(Connection& c, const Request& r,
                                                         std::vector<uint8_t>& storage) {
    if (!kernel_ || !c.process->alive()) return {ntstatus::kDeviceNotConnected, 0, 0, {}};
    ClientProcess& process = *c.process;
    InCallerContext context(c, r.requestId);
    switch (r.op) {
    case Op::CreateFile: {
        uint64_t file = 0;
        int32_t status = kernel_->createFile(process, text(r.name), &file);
        return {status, 0, status == ntstatus::kSuccess ? file : 0, {}};
    }
    case Op::CloseFile:
        return {kernel_->closeFile(process, r.handle.handle), 0, 0, {}};
    case Op::DeviceIoControl: {
        const size_t at =
            r.data.empty() ? sizeof(wire::IoctlRecord) : static_cast<size_t>(r.data.data() - storage.data());
        storage.resize(at + std::max(r.ioctl.inputLength, r.ioctl.outputLength));
        uint8_t* buffer = storage.data() + at;
        uint32_t information = 0;
        int32_t status = kernel_->deviceIoControl(process, r.ioctl.fileHandle, r.ioctl.code, buffer,
                                                  r.ioctl.inputLength, buffer, r.ioctl.outputLength, &information);
        // Buffered I/O copies back `information` bytes unless the request failed.
        uint32_t copied = ntstatus::isError(status) ? 0 : std::min(information, r.ioctl.outputLength);
        return {status, information, 0, std::span<const uint8_t>(buffer, copied)};
    }
    case Op::ReadFile: {
        const size_t at = sizeof(wire::TransferRecord);
        storage.resize(at + r.transfer.length);
        uint8_t* buffer = storage.data() + at;
        uint32_t information = 0;
        int32_t status = kernel_->readFile(process, r.transfer.fileHandle, buffer, r.transfer.length, &information);
        uint32_t copied = ntstatus::isError(status) ? 0 : std::min(information, r.transfer.length);
        return {status, information, 0, std::span<const uint8_t>(buffer, copied)};
    }
    case Op::WriteFile: {
        uint32_t information = 0;
        int32_t status = kernel_->writeFile(process, r.transfer.fileHandle, r.data.data(), r.transfer.length,
                                            &information);
        return {status, information, 0, {}};
    }
    default:
        return {ntstatus::kInvalidParameter, 0, 0, {}};
    }
}

void MachineDaemon::handleRegistry(Connection& c, const Request& r) {
    // Answered after the kernel lock is released.
    int32_t status = ntstatus::kDeviceNotConnected;
    uint32_t information = 0;
    uint64_t value = 0;
    std::vector<uint8_t> data;
    {
        std::shared_lock kernel(kernelLock_);
        const std::string key = text(r.name);
        switch (kernel_ ? r.op : Op::Reply) {
        case Op::InterfacePaths: {
            nt::Guid guid{r.guid.data1, r.guid.data2, r.guid.data3, {}};
            std::copy(std::begin(r.guid.data4), std::end(r.guid.data4), guid.data4);
            auto paths = kernel_->interfacePaths(guid);
            for (const auto& p : paths) data.insert(data.end(), p.c_str(), p.c_str() + p.size() + 1);
            status = ntstatus::kSuccess;
            value = paths.size();
            break;
        }
        case Op::RegQuery:
            status = kernel_->registryQuery(key, text(r.valueName), &information, &data) ? ntstatus::kSuccess
                                                                                       : ntstatus::kObjectNameNotFound;
            break;
        case Op::RegSet:
            status = !kernel_->registryKeyExists(key) ? ntstatus::kObjectNameNotFound
                     : kernel_->registrySet(key, text(r.valueName), r.registry.type,
                                            std::vector<uint8_t>(r.data.begin(), r.data.end()))
                         ? ntstatus::kSuccess
                         : ntstatus::kUnsuccessful;
            break;
        case Op::RegDelete:
            status = kernel_->registryDelete(key, text(r.valueName)) ? ntstatus::kSuccess
                                                                     : ntstatus::kObjectNameNotFound;
            break;
        case Op::RegKeyExists:
            status = kernel_->registryKeyExists(key) ? ntstatus::kSuccess : ntstatus::kObjectNameNotFound;
            break;
        case Op::RegCreateKey:
            // information: REG_CREATED_NEW_KEY 1 or REG_OPENED_EXISTING_KEY 2
            if (kernel_->registryKeyExists(key)) {
                status = ntstatus::kSuccess;
                information = 2;
            } else {
                status = kernel_->registryCreateKey(key) ? ntstatus::kSuccess : ntstatus::kUnsuccessful;
                information = 1;
            }
            break;
        default: break;
        }
    }
    if (status == ntstatus::kSuccess && r.op == Op::RegQuery)
        reply(c, r.requestId, status, information, 0, data);
    else if (r.op == Op::InterfacePaths && status == ntstatus::kSuccess)
        reply(c, r.requestId, status, 0, value, data);
    else
        reply(c, r.requestId, status, r.op == Op::RegCreateKey ? information : 0);
}

void MachineDaemon::handleObject(Connection& c, const Request& r) {
    const uint32_t process = c.process->processId();
    // Object requests answer with Win32 error codes (0 = success).
    auto replyObject = [&](ObjectResult result) {
        int fd = result.fd.get();
        std::span<const int> fds = fd >= 0 ? std::span<const int>(&fd, 1) : std::span<const int>();
        reply(c, r.requestId, static_cast<int32_t>(result.error), 0, result.handle,
              std::span(reinterpret_cast<const uint8_t*>(&result.size), sizeof result.size), fds);
    };
    switch (r.op) {
    case Op::CreateMapping:
        replyObject(objects_.createMapping(process, text(r.name), r.object.size));
        return;
    case Op::OpenMapping:
        replyObject(objects_.openMapping(process, text(r.name)));
        return;
    case Op::CreateMutex:
        replyObject(objects_.createMutex(process, c.id, text(r.name), r.object.flags & 1));
        return;
    case Op::OpenMutex:
        replyObject(objects_.openMutex(process, text(r.name)));
        return;
    case Op::CloseObject:
        reply(c, r.requestId, static_cast<int32_t>(objects_.close(process, r.handle.handle)));
        return;
    case Op::ReleaseMutex:
        reply(c, r.requestId, static_cast<int32_t>(objects_.releaseMutex(process, c.id, r.handle.handle)));
        return;
    case Op::WaitObject: {
        uint32_t error = 0;
        uint32_t result = objects_.wait(process, c.id, r.wait.handle, r.wait.timeoutMs, &error);
        reply(c, r.requestId, static_cast<int32_t>(error), result);
        return;
    }
    case Op::AddView: {
        ProcessView view{r.view.address, r.view.length, r.view.physical, r.view.objectHandle};
        // Drivers translate the addresses of recorded views: a process may
        // report only physical memory it can map itself, the screen. Views of
        // RAM come from drivers alone (mapPhysical).
        bool allowed = view.physical == 0 || onScreen(view.physical, view.length);
        uint32_t error = win32err::kSuccess;
        if (!allowed || !c.process->addView(view))
            error = allowed && c.process->viewsFull() ? win32err::kNotEnoughQuota : win32err::kInvalidParameter;
        reply(c, r.requestId, static_cast<int32_t>(error));
        return;
    }
    case Op::RemoveView:
        reply(c, r.requestId, static_cast<int32_t>(c.process->removeView(r.view.address) ? 0 : 487));
        return;
    default:
        return;
    }
}

bool MachineDaemon::onScreen(uint64_t physical, uint64_t length) {
    std::shared_lock kernel(kernelLock_);
    if (!kernel_) return false;
    nt::Kernel::DisplaySurface s = kernel_->displaySurface();
    return s.frameBufferSize != 0 && physical >= s.frameBufferPhysical && length <= s.frameBufferSize &&
           physical - s.frameBufferPhysical <= s.frameBufferSize - length;
}

void MachineDaemon::handleControl(Connection& c, const Request& r) {
    switch (r.op) {
    case Op::Status:
        if (!acceptingClients_.load() && !r.status.json)
            replyText(c, r.requestId, ntstatus::kDeviceNotReady, notAcceptingLine());
        else
            replyText(c, r.requestId, acceptingClients_.load() ? ntstatus::kSuccess : ntstatus::kDeviceNotReady,
                      r.status.json ? statusJson() : statusLine());
        return;
    case Op::Shutdown:
        reply(c, r.requestId, ntstatus::kSuccess);
        stopRequested_ = true;
        wake();
        return;
    case Op::Reboot: {
        std::string error;
        if (reboot(&error))
            reply(c, r.requestId, ntstatus::kSuccess, bootCount_.load());
        else
            replyText(c, r.requestId, ntstatus::kUnsuccessful, error);
        return;
    }
    default: break;
    }
    // The rest change the hardware: done under the kernel lock, answered
    // after it is released, so a client that stops reading holds up nothing.
    int32_t status = ntstatus::kUnsuccessful;
    uint64_t value = 0;
    std::string text;
    {
        std::shared_lock kernel(kernelLock_);
        switch (r.op) {
        case Op::Plug: {
            TernCardConfig card;
            card.signature = r.plug.signature != 0;
            card.revision = static_cast<uint8_t>(r.plug.revision);
            card.boardSwitch = static_cast<uint8_t>(r.plug.boardSwitch);
            const int number = kernel_ ? kernel_->plugTernCard(card) : 0;
            if (number > 0) status = ntstatus::kSuccess, value = static_cast<uint64_t>(number);
            break;
        }
        case Op::Unplug:
            if (kernel_ && kernel_->unplugTernCard(static_cast<int>(r.unplug.number), r.unplug.surprise != 0))
                status = ntstatus::kSuccess;
            break;
        case Op::PlugAudio: {
            HeronAudioConfig audio;
            audio.port = r.audioPlug.portSpace != 0;
            const int number = kernel_ ? kernel_->plugHeronAudio(audio) : 0;
            if (number > 0) status = ntstatus::kSuccess, value = static_cast<uint64_t>(number);
            break;
        }
        case Op::UnplugAudio:
            if (kernel_ && kernel_->unplugHeronAudio(static_cast<int>(r.unplug.number), r.unplug.surprise != 0))
                status = ntstatus::kSuccess;
            break;
        case Op::Display:
            status = kernel_ && kernel_->setDisplayMode(r.display.width, r.display.height, r.display.bits)
                         ? ntstatus::kSuccess
                         : ntstatus::kInvalidParameter;
            break;
        case Op::CardSource:
            text = "the machine is off";
            if (kernel_ && kernel_->setCardSource(static_cast<int>(r.cardSource.number),
                                                  static_cast<int>(r.cardSource.input), std::string(r.name), &text))
                status = ntstatus::kSuccess, text.clear();
            else
                status = ntstatus::kInvalidParameter;
            break;
        case Op::CardSwitch:
            if (kernel_ && kernel_->setCardSwitch(static_cast<int>(r.cardSwitch.number), r.cardSwitch.bits))
                status = ntstatus::kSuccess;
            break;
        default: return;
        }
    }
    if (!text.empty())
        replyText(c, r.requestId, status, text);
    else
        reply(c, r.requestId, status, 0, value);
}

}  // namespace lxm
