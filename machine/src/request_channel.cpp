#include "lxmachine/request_channel.h"

#include <fcntl.h>
#include <sched.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <new>

namespace lxm::channel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::microseconds kPlainSpin{1};

// Shared futexes (not FUTEX_PRIVATE): the two sides are different processes.
void futexWait(std::atomic<uint32_t>* word, uint32_t expected, std::chrono::milliseconds timeout) {
    timespec ts{static_cast<time_t>(timeout.count() / 1000), static_cast<long>((timeout.count() % 1000) * 1000000)};
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void futexWake(std::atomic<uint32_t>* word) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Rings: the area (and `post`) are written before the sequence moves; the
// waiter is woken only when it said it sleeps. With both the sequence bump
// and the sleeping flag sequentially consistent, either the waiter sees the
// new sequence before it sleeps or the ringer sees it sleeping.
bool ring(Doorbell& bell, Post post) {
    bell.post.store(static_cast<uint32_t>(post), std::memory_order_relaxed);
    bell.sequence.fetch_add(1, std::memory_order_seq_cst);
    if (bell.sleeping.load(std::memory_order_seq_cst) != 0) {
        futexWake(&bell.sequence);
        return false;
    }
    return true;
}

// Looks for the ring for `spin`: a few microseconds of plain spinning, then
// the spin yields the processor each round, since on a loaded machine the
// peer may be waiting for the very processor this side would burn.
WaitResult spinFor(Doorbell& bell, uint32_t seen, std::chrono::nanoseconds spin, const std::atomic<bool>* stop) {
    const auto start = Clock::now();
    const auto yieldFrom = start + kPlainSpin;
    const auto until = start + spin;
    for (unsigned i = 1;; ++i) {
        if (bell.sequence.load(std::memory_order_acquire) != seen) return WaitResult::Rang;
        if (stop && stop->load(std::memory_order_relaxed)) return WaitResult::Stopped;
        if ((i & 15) != 0) {
            cpuRelax();
            continue;
        }
        const auto now = Clock::now();
        if (now >= until) return WaitResult::TimedOut;
        if (now >= yieldFrom) ::sched_yield();
    }
}

// Waits for the sequence to leave `seen`: spins for `spin` (unless the
// policy holds it back), then sleeps until the time-out.
WaitResult waitFor(Doorbell& bell, uint32_t seen, std::chrono::nanoseconds spin, SpinPolicy& policy,
                   std::chrono::milliseconds timeout, const std::atomic<bool>* stop) {
    if (spin.count() > 0 && policy.maySpin()) {
        const WaitResult r = spinFor(bell, seen, spin, stop);
        policy.spun(r != WaitResult::TimedOut);
        if (r != WaitResult::TimedOut) return r;
    }
    bell.sleeping.store(1, std::memory_order_seq_cst);
    WaitResult result = WaitResult::TimedOut;
    if (bell.sequence.load(std::memory_order_seq_cst) != seen) {
        result = WaitResult::Rang;
    } else if (!(stop && stop->load())) {
        futexWait(&bell.sequence, seen, timeout);
        if (bell.sequence.load(std::memory_order_acquire) != seen) result = WaitResult::Rang;
    }
    bell.sleeping.store(0, std::memory_order_relaxed);
    if (stop && stop->load()) return WaitResult::Stopped;
    return result;
}

void writeFrame(uint8_t* area, wire::Op op, uint32_t requestId, wire::FrameParts parts) {
    size_t length = 0;
    for (const auto& part : parts) length += part.size();
    wire::FrameHeader header{wire::kMagic, static_cast<uint16_t>(op), 0, requestId, static_cast<uint32_t>(length)};
    std::memcpy(area, &header, sizeof header);
    uint8_t* at = area + sizeof header;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        std::memcpy(at, part.data(), part.size());
        at += part.size();
    }
}

void writeFrame(uint8_t* area, wire::Op op, uint32_t requestId, std::span<const uint8_t> payload) {
    const std::span<const uint8_t> whole[] = {payload};
    writeFrame(area, op, requestId, whole);
}

}  // namespace

void SpinPolicy::spun(bool caught) {
    if (caught) {
        penalty_ = 0;
        return;
    }
    penalty_ = penalty_ == 0 ? 1 : std::min(penalty_ * 2, kMaxSkipped);
    skip_ = penalty_;
}

bool takeFrame(std::span<const uint8_t> area, wire::FrameHeader* header, std::vector<uint8_t>* payload,
               std::string* why) {
    if (area.size() < sizeof(wire::FrameHeader)) {
        if (why) *why = "area smaller than a frame header";
        return false;
    }
    std::memcpy(header, area.data(), sizeof *header);
    if (!wire::headerValid(*header, why)) return false;
    if (header->length > area.size() - sizeof *header) {
        if (why) *why = "frame runs past its area";
        return false;
    }
    payload->assign(area.data() + sizeof *header, area.data() + sizeof *header + header->length);
    return true;
}

std::unique_ptr<RequestChannel> RequestChannel::create(std::string* why) {
    UniqueFd fd(::memfd_create("lxmachine-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd.valid() || ::ftruncate(fd.get(), kChannelBytes) != 0 ||
        ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        if (why) *why = std::string("channel memory: ") + std::strerror(errno);
        return nullptr;
    }
    void* base = ::mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (base == MAP_FAILED) {
        if (why) *why = std::string("channel mapping: ") + std::strerror(errno);
        return nullptr;
    }
    new (base) ChannelLayout{};
    return std::unique_ptr<RequestChannel>(new RequestChannel(std::move(fd), base));
}

std::unique_ptr<RequestChannel> RequestChannel::attach(UniqueFd fd, const ChannelRecord& record, std::string* why) {
    const ChannelRecord expected{kChannelBytes, kRequestAreaOffset, kRequestAreaBytes, kReplyAreaOffset,
                                 kReplyAreaBytes, 0};
    struct stat st{};
    if (std::memcmp(&record, &expected, sizeof record) != 0 || ::fstat(fd.get(), &st) != 0 ||
        st.st_size != static_cast<off_t>(kChannelBytes)) {
        if (why) *why = "the channel's layout is not this client's";
        return nullptr;
    }
    void* base = ::mmap(nullptr, kChannelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (base == MAP_FAILED) {
        if (why) *why = std::string("channel mapping: ") + std::strerror(errno);
        return nullptr;
    }
    auto channel = std::unique_ptr<RequestChannel>(new RequestChannel(std::move(fd), base));
    channel->replySeen_ = channel->layout().reply.sequence.load();
    return channel;
}

RequestChannel::~RequestChannel() { ::munmap(base_, kChannelBytes); }

ChannelRecord RequestChannel::record() const {
    return ChannelRecord{kChannelBytes, kRequestAreaOffset, kRequestAreaBytes, kReplyAreaOffset, kReplyAreaBytes, 0};
}

bool RequestChannel::postRequest(wire::Op op, uint32_t requestId, std::span<const uint8_t> payload) {
    writeFrame(base_ + kRequestAreaOffset, op, requestId, payload);
    return ring(layout().request, Post::InArea);
}

bool RequestChannel::ringRequest(Post post) { return ring(layout().request, post); }

WaitResult RequestChannel::waitForReply(std::chrono::milliseconds timeout, bool peerRunning) {
    WaitResult r = waitFor(layout().reply, replySeen_, peerRunning ? kClientSpin : std::chrono::nanoseconds(0),
                           spinPolicy_, timeout, nullptr);
    // Rings strictly alternate, so one step is exactly the ring waited for.
    if (r == WaitResult::Rang) replySeen_ = layout().reply.sequence.load(std::memory_order_acquire);
    return r;
}

Post RequestChannel::replyPost() const { return static_cast<Post>(layout().reply.post.load(std::memory_order_relaxed)); }

bool RequestChannel::takeReply(wire::FrameHeader* header, std::vector<uint8_t>* payload) const {
    return takeFrame(std::span<const uint8_t>(base_ + kReplyAreaOffset, kReplyAreaBytes), header, payload, nullptr);
}

bool RequestChannel::closedByPeer() const {
    return layout().reply.sequence.load(std::memory_order_acquire) != replySeen_ && replyPost() == Post::Closing;
}

bool RequestChannel::postReply(wire::Op op, uint32_t requestId, std::span<const uint8_t> payload) {
    writeFrame(base_ + kReplyAreaOffset, op, requestId, payload);
    return ring(layout().reply, Post::InArea);
}

bool RequestChannel::postReplyParts(wire::Op op, uint32_t requestId, wire::FrameParts parts) {
    writeFrame(base_ + kReplyAreaOffset, op, requestId, parts);
    return ring(layout().reply, Post::InArea);
}

bool RequestChannel::ringReply(Post post) { return ring(layout().reply, post); }

WaitResult RequestChannel::waitForRequest(std::chrono::milliseconds timeout, bool spin,
                                          const std::atomic<bool>& stop) {
    WaitResult r = waitFor(layout().request, requestSeen_, spin ? kDaemonSpin : std::chrono::nanoseconds(0),
                           spinPolicy_, timeout, &stop);
    if (r == WaitResult::Rang) requestSeen_ = layout().request.sequence.load(std::memory_order_acquire);
    return r;
}

Post RequestChannel::requestPost() const {
    return static_cast<Post>(layout().request.post.load(std::memory_order_relaxed));
}

bool RequestChannel::takeRequest(wire::FrameHeader* header, std::vector<uint8_t>* payload, std::string* why) const {
    return takeFrame(std::span<const uint8_t>(base_ + kRequestAreaOffset, kRequestAreaBytes), header, payload, why);
}

// Moving the sequence as well makes a wait that is just about to sleep
// return at once; the waiter then sees `stop` and takes nothing.
void RequestChannel::interruptRequestWait() {
    layout().request.sequence.fetch_add(1, std::memory_order_seq_cst);
    futexWake(&layout().request.sequence);
}

}  // namespace lxm::channel
