// The on-board controller at I2C address 126. It answers at sub-addresses
// like a small EEPROM (a register pointer set by the first byte written,
// advancing with every byte):
//   0..11   board serial number, 12 ASCII bytes
//   12..13  signature "KZ" (0xFF 0xFF on boards without one)
//   14..18  firmware version, 5 ASCII bytes
//   21      revision: low nibble minor, high nibble major
//   22      number of video inputs
// and has a command channel:
//   80  command message: header count h, h header bytes, data count d, d
//       data bytes (with h = 0 the count byte 0 stands alone: 0, d, data)
//   81  addressed write: h, h header bytes, address high, address low, d, data
//   82  addressed read: address high, address low [, h, header]; then a
//       repeated start reads controller memory from that address
//   83  status: '<' after an accepted operation, '!' after a rejected one,
//       0 before the first
//   84  reply block, 255 bytes: 0..127 the data of the last accepted message
//       or transfer, 128 its header count, 129 the number of operations
//       accepted since the controller's last reset (modulo 256)
//   85  reset request: the byte 0xFF clears memory, reply block and counter
// An operation is judged at the stop condition that ends it.
//
// The controller keeps a record of its last kChannelRecordLength transactions
// on the command sub-addresses (80 to 85): the bytes written after the
// sub-address and the bytes read, numbered from power-on, so that the
// machine's status report and the tests can see what a driver sent.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "lxmachine/hw/terncard/i2c.h"

namespace lxhw::tern {

class BoardController final : public I2cDevice {
public:
    static constexpr uint8_t kAddress = 126;
    static constexpr size_t kMemorySize = 4096;
    static constexpr uint8_t kStatusAccepted = '<';
    static constexpr uint8_t kStatusRejected = '!';

    enum Sub : uint8_t {
        kSubSerial = 0,
        kSubSignature = 12,
        kSubFirmware = 14,
        kSubRevision = 21,
        kSubInputs = 22,
        kSubCommand = 80,
        kSubWrite = 81,
        kSubRead = 82,
        kSubStatus = 83,
        kSubReply = 84,
        kSubReset = 85,
    };

    // One transaction on a command sub-address, from its start to its stop.
    struct ChannelTransaction {
        uint64_t number;               // 1 for the first since power-on
        uint8_t sub;
        std::vector<uint8_t> written;  // bytes the controller acknowledged
        std::vector<uint8_t> read;     // bytes the master received
    };
    static constexpr size_t kChannelRecordLength = 64;

    BoardController(bool signature, uint8_t revision, const std::string& serial);

    bool start(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool more) override;
    void stop() override;

    // For the machine's own inspection (tests, status reports).
    uint8_t status() const;
    std::vector<uint8_t> lastMessage() const;
    std::vector<uint8_t> memory(size_t address, size_t length) const;
    // The recorded transactions, oldest first (ended ones only).
    std::vector<ChannelTransaction> channelRecord() const;

private:
    enum class Phase { Idle, Pointer, Writing, Reading };
    uint8_t identityByte(uint8_t sub) const;
    uint8_t nextByte(bool more);
    void finishWrite();
    bool acceptMessage(const std::vector<uint8_t>& bytes);
    bool acceptAddressedWrite(const std::vector<uint8_t>& bytes);
    void accepted(const std::vector<uint8_t>& data, uint8_t headerCount);
    static bool isChannelSub(uint8_t sub) { return sub >= kSubCommand && sub <= kSubReset; }
    void openRecord(uint8_t sub);
    void closeRecord();

    mutable std::mutex mutex_;
    std::array<uint8_t, 32> identity_{};
    Phase phase_ = Phase::Idle;
    uint8_t pointer_ = 0;
    std::vector<uint8_t> written_;  // bytes after the sub-address in this transaction
    bool readFromMemory_ = false;
    size_t readAddress_ = 0;
    size_t replyIndex_ = 0;
    uint8_t status_ = 0;
    uint8_t sequence_ = 0;
    std::array<uint8_t, 255> reply_{};
    std::vector<uint8_t> message_;
    std::vector<uint8_t> memory_;
    bool recording_ = false;
    ChannelTransaction open_{};
    uint64_t transactions_ = 0;
    std::deque<ChannelTransaction> record_;
};

}  // namespace lxhw::tern
