// One user-mode process attached to the machine: the kernel's UserProcess,
// the views it has (mapped for it by drivers or reported by the process), and
// the way back to it while one of its threads has a request running.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "lxmachine/request_channel.h"
#include "lxmachine/wire.h"
#include "nt/kernel_host.h"

namespace lxm {

// The connection whose request the current daemon thread is running; set for
// the duration of a request so that the kernel's calls back into the process
// (mapPhysical, unmapView) travel on that connection.
struct RequestContext {
    int socket = -1;
    uint32_t requestId = 0;
    const void* process = nullptr;
    // Set when the client waits on its channel: a call-back on the socket is
    // announced there, or the client would never read it.
    channel::RequestChannel* channel = nullptr;
};
RequestContext*& currentRequest();

struct ProcessView {
    uint64_t address;
    uint64_t length;
    uint64_t physical;      // 0 for views of named objects
    uint64_t objectHandle;  // 0 for views of physical memory
};

class ClientProcess final : public nt::UserProcess {
public:
    // id: the machine's own process number, never reused while it runs.
    ClientProcess(uint32_t id, uint32_t osPid, uint64_t token, std::vector<nt::MemoryRegion> regions,
                  uint32_t viewLimit = 1024);

    uint32_t processId() const override { return id_; }
    uint32_t osPid() const { return osPid_; }
    uint64_t mapPhysical(uint64_t physical, uint64_t length) override;
    bool unmapView(uint64_t userAddress) override;
    uint64_t physicalAddressOf(uint64_t userAddress) const override;

    uint64_t token() const { return token_; }
    bool alive() const { return alive_.load(); }
    // Marks the process gone and forgets its views; true for the first
    // caller only. No view is recorded for it afterwards.
    bool markExited();

    // Views the process made itself (file mappings, the screen). False when
    // refused; viewsFull() then tells whether the quota was the reason.
    bool addView(const ProcessView& view);
    bool viewsFull() const;
    bool removeView(uint64_t address);
    std::vector<ProcessView> views() const;

    // Requests of the process taken from a shared-memory channel and still running.
    void channelRequestStarted() { channelRequests_.fetch_add(1); }
    void channelRequestEnded() { channelRequests_.fetch_sub(1); }
    uint32_t channelRequests() const { return channelRequests_.load(); }

private:
    bool inRegion(uint64_t physical, uint64_t length) const;

    const uint32_t id_;
    const uint32_t osPid_;
    const uint64_t token_;
    const std::vector<nt::MemoryRegion> regions_;
    const uint32_t viewLimit_;
    std::atomic<bool> alive_{true};
    std::atomic<uint32_t> channelRequests_{0};
    mutable std::mutex viewsLock_;
    std::map<uint64_t, ProcessView> views_;  // by user address
};

}  // namespace lxm
