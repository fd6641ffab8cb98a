// The tool's connection to a running machine (the "control" role).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lxmachine/frame_socket.h"

namespace lxm {

struct ControlReply {
    int32_t status = 0;
    uint32_t information = 0;
    uint64_t value = 0;
    std::vector<uint8_t> data;
    std::string text() const { return std::string(data.begin(), data.end()); }
};

class ControlConnection {
public:
    // Nothing (and *error) when no machine answers in the directory.
    static std::optional<ControlConnection> open(const std::string& directory, std::string* error);

    std::optional<ControlReply> call(wire::Op op, std::span<const uint8_t> payload, int timeoutMs,
                                     std::string* error);
    // Waits until the daemon closes the connection (it does so when it is gone).
    bool waitForClose(int timeoutMs);

private:
    UniqueFd socket_;
    uint32_t nextRequest_ = 1;
};

}  // namespace lxm
