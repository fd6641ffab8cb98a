// A client that speaks the machine's protocol directly, without the compat
// layer, so tests can send what no well-behaved program would: pipelined
// requests, half frames, forged records.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lxmachine/frame_socket.h"
#include "lxmachine/request_channel.h"

namespace lxm::testing {

struct RawReply {
    wire::ReplyRecord record{};
    std::vector<uint8_t> data;
    std::vector<UniqueFd> fds;
};

class RawClient {
public:
    // Connects as a process; false (with *error) when the machine refused.
    bool attach(const std::string& directory, std::string* error);
    // Opens one more thread connection of the attached process; its index.
    std::optional<size_t> addThread(const std::string& directory, std::string* error);
    // As addThread, asking for a shared-memory request channel (handed to *requests).
    std::optional<size_t> addChannelThread(const std::string& directory,
                                           std::unique_ptr<channel::RequestChannel>* requests, std::string* error);

    int processSocket() const { return process_.get(); }
    int threadSocket(size_t index) const { return threads_[index].get(); }
    uint64_t token() const { return token_; }
    const std::vector<UniqueFd>& regionFds() const { return regionFds_; }
    const std::vector<wire::RegionRecord>& regions() const { return regions_; }

    // Sends one request on a thread connection without waiting for its reply.
    bool send(size_t thread, wire::Op op, std::span<const uint8_t> payload);
    // Waits (bounded) for the next reply on a thread connection.
    std::optional<RawReply> receive(size_t thread, int timeoutMs = 10000);
    std::optional<RawReply> call(size_t thread, wire::Op op, std::span<const uint8_t> payload);
    // As call, answering the machine's requests to map memory with
    // `mapAnswer` (0 refuses) and its unmaps with success.
    std::optional<RawReply> callAnsweringMaps(size_t thread, wire::Op op, std::span<const uint8_t> payload,
                                              uint64_t mapAnswer);
    // Ends the process: every connection closes.
    void exit();
    // Attaches, opens a thread connection (0 on a fresh client) and on it the
    // test driver's echo device; the file's handle, or nothing (with *error).
    std::optional<uint64_t> attachAndOpenEcho(const std::string& directory, std::string* error);

    static std::vector<uint8_t> createMapping(const std::string& name, uint64_t size);
    static std::vector<uint8_t> createFile(const std::string& path);
    static std::vector<uint8_t> deviceIoControl(uint64_t file, uint32_t code, std::span<const uint8_t> input,
                                                uint32_t outputLength);
    static std::vector<uint8_t> addView(uint64_t address, uint64_t length, uint64_t physical);

private:
    UniqueFd process_;
    std::vector<UniqueFd> threads_;
    std::vector<UniqueFd> regionFds_;
    std::vector<wire::RegionRecord> regions_;
    uint64_t token_ = 0;
    uint32_t nextRequest_ = 1;
};

}  // namespace lxm::testing
