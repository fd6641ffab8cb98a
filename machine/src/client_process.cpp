#include "client_process.h"

#include "lxmachine/frame_socket.h"

namespace lxm {

namespace {
// Generous: the client only mmaps, but it may be under a debugger or ASan.
constexpr int kCallbackTimeoutMs = 30000;
}  // namespace

RequestContext*& currentRequest() {
    thread_local RequestContext* current = nullptr;
    return current;
}

ClientProcess::ClientProcess(uint32_t id, uint32_t osPid, uint64_t token, std::vector<nt::MemoryRegion> regions,
                             uint32_t viewLimit)
    : id_(id), osPid_(osPid), token_(token), regions_(std::move(regions)), viewLimit_(viewLimit) {}

bool ClientProcess::viewsFull() const {
    std::lock_guard lock(viewsLock_);
    return views_.size() >= viewLimit_;
}

bool ClientProcess::inRegion(uint64_t physical, uint64_t length) const {
    for (const auto& r : regions_) {
        if (physical >= r.physicalBase && length <= r.size && physical - r.physicalBase <= r.size - length) return true;
    }
    return false;
}

uint64_t ClientProcess::mapPhysical(uint64_t physical, uint64_t length) {
    RequestContext* request = currentRequest();
    if (!alive() || !request || request->process != this || length == 0 || !inRegion(physical, length)) return 0;
    // Past the quota nothing is mapped: the driver sees the mapping fail.
    if (viewsFull()) return 0;
    wire::PayloadWriter w;
    w.record(wire::MapRecord{physical, length});
    if (sendFrame(request->socket, wire::Op::MapPhysical, request->requestId, w.data()) != IoResult::Ok) return 0;
    if (request->channel) request->channel->ringReply(channel::Post::OnSocket);
    Frame reply;
    if (receiveFrame(request->socket, &reply, kCallbackTimeoutMs) != IoResult::Ok) return 0;
    wire::PayloadReader reader(reply.payload);
    wire::MapReplyRecord answer{};
    if (reply.op() != wire::Op::MapReply || reply.header.requestId != request->requestId || !reader.record(&answer) ||
        !reader.complete() || answer.address == 0)
        return 0;
    std::lock_guard lock(viewsLock_);
    // An exit that began while the process mapped the view has forgotten its views already.
    if (!alive()) return 0;
    views_[answer.address] = ProcessView{answer.address, length, physical, 0};
    return answer.address;
}

bool ClientProcess::unmapView(uint64_t userAddress) {
    {
        std::lock_guard lock(viewsLock_);
        if (!views_.contains(userAddress)) return false;
    }
    RequestContext* request = currentRequest();
    if (alive() && request && request->process == this) {
        wire::PayloadWriter w;
        w.record(wire::HandleRecord{userAddress});
        if (sendFrame(request->socket, wire::Op::UnmapPhysical, request->requestId, w.data()) != IoResult::Ok)
            return false;
        if (request->channel) request->channel->ringReply(channel::Post::OnSocket);
        Frame reply;
        wire::ReplyRecord answer{};
        std::span<const uint8_t> data;
        if (receiveFrame(request->socket, &reply, kCallbackTimeoutMs) != IoResult::Ok ||
            !parseReply(reply, &answer, &data) || answer.status != 0)
            return false;
    } else if (alive()) {
        // Only a request of the process itself can reach into its address space.
        return false;
    }
    std::lock_guard lock(viewsLock_);
    views_.erase(userAddress);
    return true;
}

uint64_t ClientProcess::physicalAddressOf(uint64_t userAddress) const {
    std::lock_guard lock(viewsLock_);
    auto it = views_.upper_bound(userAddress);
    if (it == views_.begin()) return 0;
    --it;
    const ProcessView& v = it->second;
    if (v.physical == 0 || userAddress - v.address >= v.length) return 0;
    return v.physical + (userAddress - v.address);
}

bool ClientProcess::markExited() {
    if (!alive_.exchange(false)) return false;
    std::lock_guard lock(viewsLock_);
    views_.clear();
    return true;
}

bool ClientProcess::addView(const ProcessView& view) {
    if (view.address == 0 || view.length == 0) return false;
    if (view.physical != 0 && !inRegion(view.physical, view.length)) return false;
    std::lock_guard lock(viewsLock_);
    if (!alive() || views_.size() >= viewLimit_) return false;
    return views_.emplace(view.address, view).second;
}

bool ClientProcess::removeView(uint64_t address) {
    std::lock_guard lock(viewsLock_);
    return views_.erase(address) == 1;
}

std::vector<ProcessView> ClientProcess::views() const {
    std::lock_guard lock(viewsLock_);
    std::vector<ProcessView> out;
    for (const auto& [address, view] : views_) out.push_back(view);
    return out;
}

}  // namespace lxm
