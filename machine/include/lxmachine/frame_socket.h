// Sending and receiving whole frames (with passed file descriptors) on a
// Unix stream socket. Every wait is bounded by the caller's time-out.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "lxmachine/unique_fd.h"
#include "lxmachine/wire.h"

namespace lxm {

struct Frame {
    wire::FrameHeader header{};
    std::vector<uint8_t> payload;
    std::vector<UniqueFd> fds;
    wire::Op op() const { return static_cast<wire::Op>(header.opcode); }
};

enum class IoResult { Ok, Closed, Timeout, Malformed, Error };

IoResult sendFrame(int socket, wire::Op op, uint32_t requestId, std::span<const uint8_t> payload,
                   std::span<const int> fds = {});
// The same with the payload gathered from up to wire::kMaxFrameParts pieces.
IoResult sendFrameParts(int socket, wire::Op op, uint32_t requestId, wire::FrameParts parts,
                        std::span<const int> fds = {});
// timeoutMs < 0 waits without bound (for connections whose peer is trusted to answer).
// A payload longer than maxPayload is Malformed; the buffer grows only as
// bytes arrive, so an announced length alone costs nothing, and while it
// grows it never holds more than 1.5 times the payload.
IoResult receiveFrame(int socket, Frame* frame, int timeoutMs, std::string* why = nullptr,
                      uint32_t maxPayload = wire::kMaxPayload);

// Reply helpers shared by the daemon and tests.
std::vector<uint8_t> replyPayload(int32_t status, uint32_t information, uint64_t value,
                                  std::span<const uint8_t> data = {}, uint32_t fdCount = 0);
bool parseReply(const Frame& frame, wire::ReplyRecord* reply, std::span<const uint8_t>* data);

}  // namespace lxm
