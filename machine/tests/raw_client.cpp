#include "raw_client.h"

#include <unistd.h>

#include <cstring>

#include "lxmachine/machine_directory.h"

namespace lxm::testing {

namespace {

bool hello(int socket, wire::Role role, uint64_t token, Frame* answer, std::string* error, uint32_t flags = 0) {
    wire::PayloadWriter w;
    w.record(wire::HelloRecord{wire::kProtocolVersion, static_cast<uint32_t>(role),
                               static_cast<uint32_t>(::getpid()), flags, token});
    if (sendFrame(socket, wire::Op::Hello, 0, w.data()) != IoResult::Ok ||
        receiveFrame(socket, answer, 10000) != IoResult::Ok) {
        *error = "no answer to hello";
        return false;
    }
    return true;
}

}  // namespace

bool RawClient::attach(const std::string& directory, std::string* error) {
    process_ = connectToMachine(directory, error);
    if (!process_.valid()) return false;
    Frame answer;
    if (!hello(process_.get(), wire::Role::Process, 0, &answer, error)) return false;
    wire::ReplyRecord reply{};
    std::span<const uint8_t> data;
    if (!parseReply(answer, &reply, &data) || reply.status != 0) {
        *error = "process hello refused";
        return false;
    }
    wire::PayloadReader reader(data);
    wire::HelloReplyRecord record{};
    if (!reader.record(&record)) return false;
    for (uint32_t i = 0; i < record.regionCount; ++i) {
        wire::RegionRecord region{};
        if (!reader.record(&region)) return false;
        regions_.push_back(region);
    }
    token_ = record.processToken;
    regionFds_ = std::move(answer.fds);
    return true;
}

std::optional<size_t> RawClient::addThread(const std::string& directory, std::string* error) {
    UniqueFd socket = connectToMachine(directory, error);
    if (!socket.valid()) return std::nullopt;
    Frame answer;
    if (!hello(socket.get(), wire::Role::Thread, token_, &answer, error)) return std::nullopt;
    wire::ReplyRecord reply{};
    std::span<const uint8_t> data;
    if (!parseReply(answer, &reply, &data) || reply.status != 0) {
        *error = "thread hello refused with status " + std::to_string(reply.status);
        return std::nullopt;
    }
    threads_.push_back(std::move(socket));
    return threads_.size() - 1;
}

std::optional<size_t> RawClient::addChannelThread(const std::string& directory,
                                                  std::unique_ptr<channel::RequestChannel>* requests,
                                                  std::string* error) {
    UniqueFd socket = connectToMachine(directory, error);
    if (!socket.valid()) return std::nullopt;
    Frame answer;
    if (!hello(socket.get(), wire::Role::Thread, token_, &answer, error, wire::kHelloRequestChannel))
        return std::nullopt;
    wire::ReplyRecord reply{};
    std::span<const uint8_t> data;
    channel::ChannelRecord record{};
    if (!parseReply(answer, &reply, &data) || reply.status != 0 || answer.fds.size() != 1 ||
        data.size() != sizeof record) {
        *error = "thread hello gave no channel";
        return std::nullopt;
    }
    std::memcpy(&record, data.data(), sizeof record);
    *requests = channel::RequestChannel::attach(std::move(answer.fds[0]), record, error);
    if (!*requests) return std::nullopt;
    threads_.push_back(std::move(socket));
    return threads_.size() - 1;
}

bool RawClient::send(size_t thread, wire::Op op, std::span<const uint8_t> payload) {
    return sendFrame(threads_[thread].get(), op, nextRequest_++, payload) == IoResult::Ok;
}

std::optional<RawReply> RawClient::receive(size_t thread, int timeoutMs) {
    Frame frame;
    if (receiveFrame(threads_[thread].get(), &frame, timeoutMs) != IoResult::Ok) return std::nullopt;
    RawReply out;
    std::span<const uint8_t> data;
    if (!parseReply(frame, &out.record, &data)) return std::nullopt;
    out.data.assign(data.begin(), data.end());
    out.fds = std::move(frame.fds);
    return out;
}

std::optional<RawReply> RawClient::call(size_t thread, wire::Op op, std::span<const uint8_t> payload) {
    if (!send(thread, op, payload)) return std::nullopt;
    return receive(thread);
}

std::optional<RawReply> RawClient::callAnsweringMaps(size_t thread, wire::Op op, std::span<const uint8_t> payload,
                                                     uint64_t mapAnswer) {
    if (!send(thread, op, payload)) return std::nullopt;
    const int socket = threads_[thread].get();
    for (int exchanges = 0; exchanges < 64; ++exchanges) {
        Frame frame;
        if (receiveFrame(socket, &frame, 10000) != IoResult::Ok) return std::nullopt;
        if (frame.op() == wire::Op::MapPhysical) {
            wire::PayloadWriter w;
            w.record(wire::MapReplyRecord{mapAnswer});
            if (sendFrame(socket, wire::Op::MapReply, frame.header.requestId, w.data()) != IoResult::Ok)
                return std::nullopt;
            continue;
        }
        if (frame.op() == wire::Op::UnmapPhysical) {
            auto ok = replyPayload(0, 0, 0, {}, 0);
            if (sendFrame(socket, wire::Op::Reply, frame.header.requestId, ok) != IoResult::Ok) return std::nullopt;
            continue;
        }
        RawReply out;
        std::span<const uint8_t> data;
        if (!parseReply(frame, &out.record, &data)) return std::nullopt;
        out.data.assign(data.begin(), data.end());
        out.fds = std::move(frame.fds);
        return out;
    }
    return std::nullopt;
}

void RawClient::exit() {
    threads_.clear();
    process_.reset();
}

std::vector<uint8_t> RawClient::createMapping(const std::string& name, uint64_t size) {
    wire::PayloadWriter w;
    w.record(wire::NamedObjectRecord{size, static_cast<uint32_t>(name.size()), 0});
    w.text(name);
    return std::move(w.data());
}

}  // namespace lxm::testing

namespace lxm::testing {

std::optional<uint64_t> RawClient::attachAndOpenEcho(const std::string& directory, std::string* error) {
    if (!attach(directory, error) || !addThread(directory, error)) return std::nullopt;
    auto opened = call(threads_.size() - 1, wire::Op::CreateFile, createFile("\\\\.\\ECHO"));
    if (!opened || opened->record.status != 0) {
        *error = opened ? "the echo device refused the open" : "no reply to the open";
        return std::nullopt;
    }
    return opened->record.value;
}

std::vector<uint8_t> RawClient::createFile(const std::string& path) {
    wire::PayloadWriter w;
    w.record(wire::PathRecord{static_cast<uint32_t>(path.size()), 0});
    w.text(path);
    return std::move(w.data());
}

std::vector<uint8_t> RawClient::deviceIoControl(uint64_t file, uint32_t code, std::span<const uint8_t> input,
                                                uint32_t outputLength) {
    wire::PayloadWriter w;
    w.record(wire::IoctlRecord{file, code, static_cast<uint32_t>(input.size()), outputLength, 0});
    w.bytes(input.data(), input.size());
    return std::move(w.data());
}

std::vector<uint8_t> RawClient::addView(uint64_t address, uint64_t length, uint64_t physical) {
    wire::PayloadWriter w;
    w.record(wire::ViewRecord{address, length, physical, 0});
    return std::move(w.data());
}

}  // namespace lxm::testing
