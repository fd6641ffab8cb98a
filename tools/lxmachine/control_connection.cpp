#include "control_connection.h"

#include <unistd.h>

#include "lxmachine/machine_directory.h"

namespace lxm {

namespace {
constexpr int kHelloTimeoutMs = 10000;
}

std::optional<ControlConnection> ControlConnection::open(const std::string& directory, std::string* error) {
    ControlConnection c;
    c.socket_ = connectToMachine(directory, error);
    if (!c.socket_.valid()) return std::nullopt;
    wire::PayloadWriter w;
    w.record(wire::HelloRecord{wire::kProtocolVersion, static_cast<uint32_t>(wire::Role::Control),
                               static_cast<uint32_t>(::getpid()), 0, 0});
    auto reply = c.call(wire::Op::Hello, w.data(), kHelloTimeoutMs, error);
    if (!reply) return std::nullopt;
    if (reply->status != 0) {
        *error = "the machine refused the connection";
        return std::nullopt;
    }
    return c;
}

std::optional<ControlReply> ControlConnection::call(wire::Op op, std::span<const uint8_t> payload, int timeoutMs,
                                                    std::string* error) {
    uint32_t id = nextRequest_++;
    if (sendFrame(socket_.get(), op, id, payload) != IoResult::Ok) {
        *error = "the machine closed the connection";
        return std::nullopt;
    }
    Frame frame;
    IoResult r = receiveFrame(socket_.get(), &frame, timeoutMs, error);
    if (r == IoResult::Timeout) {
        *error = "the machine did not answer in time";
        return std::nullopt;
    }
    wire::ReplyRecord record{};
    std::span<const uint8_t> data;
    if (r != IoResult::Ok || !parseReply(frame, &record, &data) || frame.header.requestId != id) {
        if (error->empty()) *error = "the machine closed the connection";
        return std::nullopt;
    }
    return ControlReply{record.status, record.information, record.value, {data.begin(), data.end()}};
}

bool ControlConnection::waitForClose(int timeoutMs) {
    Frame frame;
    while (true) {
        IoResult r = receiveFrame(socket_.get(), &frame, timeoutMs);
        if (r == IoResult::Timeout) return false;
        if (r != IoResult::Ok) return true;
    }
}

}  // namespace lxm
