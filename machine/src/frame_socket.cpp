#include "lxmachine/frame_socket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace lxm {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline, int timeoutMs) {
    if (timeoutMs < 0) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads exactly `length` bytes, collecting any descriptors that ride along.
IoResult readExact(int socket, uint8_t* out, size_t length, std::vector<UniqueFd>* fds,
                   Clock::time_point deadline, int timeoutMs) {
    size_t done = 0;
    while (done < length) {
        pollfd p{socket, POLLIN, 0};
        int ready = ::poll(&p, 1, remainingMs(deadline, timeoutMs));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return IoResult::Error;
        }
        if (ready == 0) return IoResult::Timeout;

        iovec iov{out + done, length - done};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * wire::kMaxFdsPerFrame)];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Error;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                fds->emplace_back(fd);
            }
        }
        if (msg.msg_flags & MSG_CTRUNC) return IoResult::Malformed;
        if (n == 0) return IoResult::Closed;
        done += static_cast<size_t>(n);
    }
    return IoResult::Ok;
}

}  // namespace

IoResult sendFrame(int socket, wire::Op op, uint32_t requestId, std::span<const uint8_t> payload,
                   std::span<const int> fds) {
    const std::span<const uint8_t> whole[] = {payload};
    return sendFrameParts(socket, op, requestId, whole, fds);
}

IoResult sendFrameParts(int socket, wire::Op op, uint32_t requestId, wire::FrameParts parts,
                        std::span<const int> fds) {
    size_t length = 0;
    for (const auto& part : parts) length += part.size();
    if (parts.size() > wire::kMaxFrameParts || length > wire::kMaxPayload || fds.size() > wire::kMaxFdsPerFrame)
        return IoResult::Malformed;
    wire::FrameHeader header{wire::kMagic, static_cast<uint16_t>(op), 0, requestId, static_cast<uint32_t>(length)};
    iovec iov[1 + wire::kMaxFrameParts];
    size_t pieces = 0;
    iov[pieces++] = {&header, sizeof header};
    for (const auto& part : parts)
        if (!part.empty()) iov[pieces++] = {const_cast<uint8_t*>(part.data()), part.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * wire::kMaxFdsPerFrame)];
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = pieces;
    if (!fds.empty()) {
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    const size_t total = sizeof header + length;
    size_t sent = 0;
    while (sent < total) {
        ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return (errno == EPIPE || errno == ECONNRESET) ? IoResult::Closed : IoResult::Error;
        }
        sent += static_cast<size_t>(n);
        // Descriptors went with the first chunk; advance the vectors past what was sent.
        msg.msg_control = nullptr;
        msg.msg_controllen = 0;
        size_t skip = static_cast<size_t>(n);
        while (msg.msg_iovlen > 0 && skip >= msg.msg_iov[0].iov_len) {
            skip -= msg.msg_iov[0].iov_len;
            ++msg.msg_iov;
            --msg.msg_iovlen;
        }
        if (msg.msg_iovlen > 0) {
            msg.msg_iov[0].iov_base = static_cast<uint8_t*>(msg.msg_iov[0].iov_base) + skip;
            msg.msg_iov[0].iov_len -= skip;
        }
    }
    return IoResult::Ok;
}

IoResult receiveFrame(int socket, Frame* frame, int timeoutMs, std::string* why, uint32_t maxPayload) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    constexpr size_t kFirstChunk = 64 * 1024;
    // A reused frame does not keep the buffer of an earlier large request.
    if (frame->payload.capacity() > kFirstChunk) frame->payload = std::vector<uint8_t>();
    frame->payload.clear();
    frame->fds.clear();
    IoResult r = readExact(socket, reinterpret_cast<uint8_t*>(&frame->header), sizeof frame->header, &frame->fds,
                           deadline, timeoutMs);
    if (r != IoResult::Ok) return r;
    if (!wire::headerValid(frame->header, why)) return IoResult::Malformed;
    if (frame->header.length > maxPayload) {
        if (why) *why = "request larger than " + std::to_string(maxPayload) + " bytes";
        return IoResult::Malformed;
    }
    // Grows with what arrived: a peer that announces 16 MiB and sends nothing
    // pins no memory. Each step doubles the buffer, from the length halved
    // until it is at most 64 KiB, so the last step ends at the length exactly
    // and copies half of it: a payload costs 1.5 times its size while it
    // arrives, not twice.
    const size_t length = frame->header.length;
    size_t next = length;
    while (next > kFirstChunk) next = (next + 1) / 2;
    size_t done = 0;
    while (done < length) {
        frame->payload.reserve(next);
        frame->payload.resize(next);
        r = readExact(socket, frame->payload.data() + done, next - done, &frame->fds, deadline, timeoutMs);
        if (r != IoResult::Ok) {
            frame->payload.clear();
            frame->payload.shrink_to_fit();
            return r;
        }
        done = next;
        next = std::min(length, 2 * next);
    }
    if (frame->fds.size() > wire::kMaxFdsPerFrame) return IoResult::Malformed;
    return IoResult::Ok;
}

std::vector<uint8_t> replyPayload(int32_t status, uint32_t information, uint64_t value,
                                  std::span<const uint8_t> data, uint32_t fdCount) {
    wire::PayloadWriter w;
    w.record(wire::ReplyRecord{status, information, value, static_cast<uint32_t>(data.size()), fdCount});
    w.bytes(data.data(), data.size());
    return std::move(w.data());
}

bool parseReply(const Frame& frame, wire::ReplyRecord* reply, std::span<const uint8_t>* data) {
    if (frame.op() != wire::Op::Reply) return false;
    wire::PayloadReader reader(frame.payload);
    if (!reader.record(reply)) return false;
    if (reply->dataLength > wire::kMaxPayload || !reader.bytes(reply->dataLength, data)) return false;
    return reader.complete() && reply->fdCount == frame.fds.size();
}

}  // namespace lxm
