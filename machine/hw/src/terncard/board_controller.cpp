#include "lxmachine/hw/terncard/board_controller.h"

#include <algorithm>
#include <cstring>

namespace lxhw::tern {
namespace {

constexpr size_t kMaxTransaction = 1024;
constexpr char kFirmware[] = "F1.07";

}  // namespace

BoardController::BoardController(bool signature, uint8_t revision, const std::string& serial)
    : memory_(kMemorySize, 0) {
    std::string s = serial.substr(0, 12);
    s.resize(12, ' ');
    std::memcpy(identity_.data() + kSubSerial, s.data(), 12);
    identity_[kSubSignature] = signature ? 'K' : 0xFF;
    identity_[kSubSignature + 1] = signature ? 'Z' : 0xFF;
    std::memcpy(identity_.data() + kSubFirmware, kFirmware, 5);
    identity_[kSubRevision] = revision;
    identity_[kSubInputs] = 4;
}

uint8_t BoardController::identityByte(uint8_t sub) const { return sub < identity_.size() ? identity_[sub] : 0xFF; }

bool BoardController::start(bool read) {
    std::lock_guard lock(mutex_);
    if (!read) {
        // A start for writing: the next byte sets the register pointer.
        if (phase_ == Phase::Writing) finishWrite();
        closeRecord();
        phase_ = Phase::Pointer;
        written_.clear();
        return true;
    }
    // A read continues at the pointer; after an address phase at 82 it reads memory.
    // Bytes written to a command sub-address are judged before the read begins.
    if (phase_ == Phase::Writing && pointer_ != kSubRead) finishWrite();
    readFromMemory_ = false;
    if (pointer_ == kSubRead && written_.size() >= 2) {
        const size_t header = written_.size() > 2 ? written_[2] : 0;
        if (written_.size() == 2 || written_.size() == 3 + header) {
            readFromMemory_ = true;
            readAddress_ = size_t{written_[0]} << 8 | written_[1];
        }
    }
    if (pointer_ == kSubReply) replyIndex_ = 0;
    if (!recording_ && isChannelSub(pointer_)) openRecord(pointer_);
    phase_ = Phase::Reading;
    return true;
}

bool BoardController::write(uint8_t byte) {
    std::lock_guard lock(mutex_);
    switch (phase_) {
    case Phase::Pointer:
        pointer_ = byte;
        phase_ = Phase::Writing;
        if (isChannelSub(byte)) openRecord(byte);
        return true;
    case Phase::Writing:
        if (pointer_ != kSubCommand && pointer_ != kSubWrite && pointer_ != kSubRead && pointer_ != kSubReset)
            return false;  // identity, status and reply are read only
        if (written_.size() >= kMaxTransaction) return false;
        written_.push_back(byte);
        if (recording_) open_.written.push_back(byte);
        return true;
    default: return false;
    }
}

uint8_t BoardController::read(bool more) {
    std::lock_guard lock(mutex_);
    const uint8_t value = nextByte(more);
    if (recording_ && phase_ == Phase::Reading) open_.read.push_back(value);
    return value;
}

uint8_t BoardController::nextByte(bool) {
    if (phase_ != Phase::Reading) return 0xFF;
    switch (pointer_) {
    case kSubRead:
        if (!readFromMemory_) return 0xFF;
        return readAddress_ < memory_.size() ? memory_[readAddress_++] : (readAddress_++, 0xFF);
    case kSubStatus: return status_;
    case kSubReply: return replyIndex_ < reply_.size() ? reply_[replyIndex_++] : 0;
    case kSubCommand:
    case kSubWrite:
    case kSubReset: return 0xFF;
    default: {
        const uint8_t value = identityByte(pointer_);
        pointer_ = static_cast<uint8_t>(pointer_ + 1);
        return value;
    }
    }
}

void BoardController::stop() {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Writing) finishWrite();
    if (phase_ == Phase::Reading && pointer_ == kSubRead) {
        if (readFromMemory_) {
            const size_t header = written_.size() > 2 ? written_[2] : 0;
            const size_t begin = (size_t{written_[0]} << 8 | written_[1]);
            const size_t end = std::min(readAddress_, memory_.size());
            std::vector<uint8_t> data;
            if (begin < end) data.assign(memory_.begin() + begin, memory_.begin() + end);
            accepted(data, static_cast<uint8_t>(header));
        } else {
            status_ = kStatusRejected;
        }
        written_.clear();
        readFromMemory_ = false;
    }
    closeRecord();
    phase_ = Phase::Idle;
}

void BoardController::openRecord(uint8_t sub) {
    recording_ = true;
    open_ = ChannelTransaction{++transactions_, sub, {}, {}};
}

void BoardController::closeRecord() {
    if (!recording_) return;
    recording_ = false;
    record_.push_back(std::move(open_));
    if (record_.size() > kChannelRecordLength) record_.pop_front();
}

void BoardController::finishWrite() {
    if (written_.empty()) return;
    bool ok = true;
    switch (pointer_) {
    case kSubCommand: ok = acceptMessage(written_); break;
    case kSubWrite: ok = acceptAddressedWrite(written_); break;
    case kSubReset:
        ok = written_.size() == 1 && written_[0] == 0xFF;
        if (ok) {
            std::fill(memory_.begin(), memory_.end(), 0);
            reply_.fill(0);
            message_.clear();
            sequence_ = 0;
            status_ = kStatusAccepted;
        }
        break;
    case kSubRead: return;  // the address phase of a read; judged when the read ends
    default: break;
    }
    if (!ok) status_ = kStatusRejected;
    written_.clear();
}

// The header count byte is followed by that many header bytes; a count of 0
// stands alone.
bool BoardController::acceptMessage(const std::vector<uint8_t>& b) {
    const size_t header = b[0];
    if (b.size() < 2 + header) return false;
    const size_t data = b[1 + header];
    if (b.size() != 2 + header + data) return false;
    message_ = b;
    accepted(std::vector<uint8_t>(b.begin() + 2 + header, b.end()), static_cast<uint8_t>(header));
    return true;
}

bool BoardController::acceptAddressedWrite(const std::vector<uint8_t>& b) {
    const size_t header = b[0];
    if (b.size() < 4 + header) return false;
    const size_t address = size_t{b[1 + header]} << 8 | b[2 + header];
    const size_t data = b[3 + header];
    if (b.size() != 4 + header + data || address + data > memory_.size()) return false;
    std::copy(b.begin() + 4 + header, b.end(), memory_.begin() + address);
    accepted(std::vector<uint8_t>(b.begin() + 4 + header, b.end()), static_cast<uint8_t>(header));
    return true;
}

void BoardController::accepted(const std::vector<uint8_t>& data, uint8_t headerCount) {
    reply_.fill(0);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 128), reply_.begin());
    reply_[128] = headerCount;
    reply_[129] = ++sequence_;
    status_ = kStatusAccepted;
}

uint8_t BoardController::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::vector<uint8_t> BoardController::lastMessage() const {
    std::lock_guard lock(mutex_);
    return message_;
}

std::vector<BoardController::ChannelTransaction> BoardController::channelRecord() const {
    std::lock_guard lock(mutex_);
    return {record_.begin(), record_.end()};
}

std::vector<uint8_t> BoardController::memory(size_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    if (address >= memory_.size()) return {};
    length = std::min(length, memory_.size() - address);
    return std::vector<uint8_t>(memory_.begin() + address, memory_.begin() + address + length);
}

}  // namespace lxhw::tern
