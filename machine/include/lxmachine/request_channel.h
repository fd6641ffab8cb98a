// The shared-memory request channel of a thread connection: one request and
// one reply area in a memfd the daemon makes, sizes and seals, with a futex
// doorbell each way. A request or reply that fits travels in its area as a
// whole frame (FrameHeader + payload); anything else (a large payload, a
// reply with file descriptors, the daemon's map call-backs) goes over the
// connection's socket and the doorbell only says "read the socket". So
// every exchange of the connection is announced by exactly one ring, and a
// thread's requests stay in order.
//
// Each side waits for the other with a short bounded spin when the other is
// known to be running, then sleeps in the futex with a time-out, so a peer
// that went away is noticed (the socket tells) and no wait is unbounded.
// The client can write anything into the shared page at any time: the
// daemon reads each word once and copies a frame out before it checks it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lxmachine/unique_fd.h"
#include "lxmachine/wire.h"

namespace lxm::channel {

// What a ring announces.
enum class Post : uint32_t {
    InArea = 1,    // a whole frame lies in the area
    OnSocket = 2,  // one frame waits on the socket
    Closing = 3,   // the poster is done with the channel (client: thread end; daemon: connection end)
};

// One direction's doorbell, on its own cache line.
struct alignas(64) Doorbell {
    std::atomic<uint32_t> sequence;  // futex word, bumped by every ring
    std::atomic<uint32_t> post;      // Post of the latest ring
    std::atomic<uint32_t> sleeping;  // the waiter is in (or entering) its futex wait
    uint32_t reserved[13];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint32_t>) == 4);
static_assert(sizeof(Doorbell) == 64);
static_assert(offsetof(Doorbell, post) == 4);
static_assert(offsetof(Doorbell, sleeping) == 8);

inline constexpr uint32_t kChannelBytes = 64 * 1024;
inline constexpr uint32_t kRequestAreaOffset = 256;
inline constexpr uint32_t kReplyAreaOffset = 32 * 1024;
inline constexpr uint32_t kRequestAreaBytes = kReplyAreaOffset - kRequestAreaOffset;
inline constexpr uint32_t kReplyAreaBytes = kChannelBytes - kReplyAreaOffset;

struct ChannelLayout {
    Doorbell request;  // client -> daemon
    Doorbell reply;    // daemon -> client
};
static_assert(offsetof(ChannelLayout, reply) == 64);
static_assert(sizeof(ChannelLayout) <= kRequestAreaOffset);

// Data of the thread hello's reply when it hands a channel over (its fd rides along).
struct ChannelRecord {
    uint32_t bytes;  // kChannelBytes
    uint32_t requestAreaOffset;
    uint32_t requestAreaBytes;
    uint32_t replyAreaOffset;
    uint32_t replyAreaBytes;
    uint32_t reserved;
};
static_assert(sizeof(ChannelRecord) == 24);
static_assert(offsetof(ChannelRecord, replyAreaOffset) == 12);

// How long a side keeps looking for the other's ring before it sleeps: the
// client while the daemon runs its request, the daemon after a reply, when
// the client is running or has just been woken and its next request is
// likely on its way.
inline constexpr std::chrono::microseconds kClientSpin{20};
inline constexpr std::chrono::microseconds kDaemonSpin{20};

enum class WaitResult { Rang, TimedOut, Stopped };

// Spinning pays only when the peer's ring comes within the spin: a side
// whose spin ran out skips the next 1, 2, 4 ... 64 spins (sleeping at once)
// and spins again as soon as one catches the ring. So a client that asks
// once a millisecond costs next to no spinning, a burst of requests no sleeping.
class SpinPolicy {
public:
    static constexpr uint32_t kMaxSkipped = 64;
    bool maySpin() {
        if (skip_ == 0) return true;
        --skip_;
        return false;
    }
    void spun(bool caught);

private:
    uint32_t skip_ = 0;
    uint32_t penalty_ = 0;
};

// One mapping of a channel, used by either side.
class RequestChannel {
public:
    // The daemon's side: a new sealed memfd of kChannelBytes, mapped.
    static std::unique_ptr<RequestChannel> create(std::string* why);
    // The client's side: maps the fd the thread hello brought, after
    // checking the record against the file.
    static std::unique_ptr<RequestChannel> attach(UniqueFd fd, const ChannelRecord& record, std::string* why);
    ~RequestChannel();
    RequestChannel(const RequestChannel&) = delete;
    RequestChannel& operator=(const RequestChannel&) = delete;

    int fd() const { return fd_.get(); }
    ChannelRecord record() const;

    // Client side.
    bool requestFits(size_t payloadBytes) const { return payloadBytes <= kRequestAreaBytes - sizeof(wire::FrameHeader); }
    // Rings the daemon; true when it was running (not asleep) at the ring.
    bool postRequest(wire::Op op, uint32_t requestId, std::span<const uint8_t> payload);
    bool ringRequest(Post post);
    // The request area itself, for a frame written in place before ringRequest(Post::InArea).
    std::span<uint8_t> requestArea() const { return {base_ + kRequestAreaOffset, kRequestAreaBytes}; }
    WaitResult waitForReply(std::chrono::milliseconds timeout, bool peerRunning);
    Post replyPost() const;
    // Copies the reply frame out of its area; false when it does not decode as a frame.
    bool takeReply(wire::FrameHeader* header, std::vector<uint8_t>* payload) const;
    // Between requests: the daemon rang the connection's end.
    bool closedByPeer() const;

    // Daemon side.
    bool replyFits(size_t payloadBytes) const { return payloadBytes <= kReplyAreaBytes - sizeof(wire::FrameHeader); }
    bool postReply(wire::Op op, uint32_t requestId, std::span<const uint8_t> payload);
    bool postReplyParts(wire::Op op, uint32_t requestId, wire::FrameParts parts);  // the parts must fit together
    bool ringReply(Post post);
    // Waits for the client's next ring (spinning first when `spin`); `stop`
    // ends the wait early.
    WaitResult waitForRequest(std::chrono::milliseconds timeout, bool spin, const std::atomic<bool>& stop);
    Post requestPost() const;
    // Copies the request frame out of its area (see takeFrame).
    bool takeRequest(wire::FrameHeader* header, std::vector<uint8_t>* payload, std::string* why) const;
    // Wakes the daemon's thread if it sleeps in waitForRequest (used with `stop`).
    void interruptRequestWait();

private:
    RequestChannel(UniqueFd fd, void* base) : fd_(std::move(fd)), base_(static_cast<uint8_t*>(base)) {}
    ChannelLayout& layout() const { return *reinterpret_cast<ChannelLayout*>(base_); }

    UniqueFd fd_;
    uint8_t* base_;
    uint32_t requestSeen_ = 0;  // the daemon's last taken request ring
    uint32_t replySeen_ = 0;    // the client's last taken reply ring
    SpinPolicy spinPolicy_;     // of this side's waits
};

// Reads one frame out of an area of shared memory the peer may be changing:
// the header is copied once, checked (magic, flags, length within the area),
// then exactly that many payload bytes are copied. The copy is what gets
// decoded, never the shared bytes.
bool takeFrame(std::span<const uint8_t> area, wire::FrameHeader* header, std::vector<uint8_t>* payload,
               std::string* why);

}  // namespace lxm::channel
