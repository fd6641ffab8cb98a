// The code that the "stamp" source writes into the first samples of every
// line (described in full in stamp_source.cpp): 64 bits, one a sample,
// sample 0 carrying bit 63, white for 1 and black for 0.
//
//   bits 63..59  sync 10110
//   bits 58..35  field number mod 2^24 (the bars' field code counts the same)
//   bit  34      1 in the second field of a frame, 0 in the first
//   bits 33..26  source ID
//   bits 25..16  frame line (field line * 2 + parity)
//   bits 15..0   CRC-16 (polynomial 0x1021, initial 0xFFFF) of bits 63..16
//                as six bytes, high byte first
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace lxhw::tern::stamp {

constexpr uint32_t kSamples = 64;
constexpr uint32_t kSync = 0b10110;
constexpr uint32_t kSyncBits = 5;
constexpr uint32_t kFieldNumberBits = 24;
constexpr uint32_t kFrameLineBits = 10;
// Luma of a 1 and of a 0: the ends of the studio range, so that any
// adjustment short of crushing the picture leaves them far apart.
constexpr uint8_t kWhiteLuma = 235;
constexpr uint8_t kBlackLuma = 16;

struct Fields {
    uint32_t fieldNumber = 0;  // mod 2^24
    bool secondField = false;
    uint8_t sourceId = 0;
    uint16_t frameLine = 0;  // mod 2^10
    friend bool operator==(const Fields&, const Fields&) = default;
};

constexpr std::array<uint16_t, 256> makeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        table[byte] = crc;
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

// CRC-16 of the 48 bits above the check, `payload` = bits 63..16 of the code.
constexpr uint16_t crc16(uint64_t payload) {
    uint16_t crc = 0xFFFF;
    for (int byte = 5; byte >= 0; --byte) {
        const auto b = static_cast<uint8_t>(payload >> (8 * byte));
        crc = static_cast<uint16_t>(crc << 8 ^ kCrcTable[(crc >> 8 ^ b) & 0xFF]);
    }
    return crc;
}

constexpr uint64_t codeWord(const Fields& f) {
    const uint64_t payload = uint64_t{kSync} << 43 | uint64_t{f.fieldNumber & ((1u << kFieldNumberBits) - 1)} << 19 |
                             uint64_t{f.secondField} << 18 | uint64_t{f.sourceId} << 10 |
                             uint64_t{f.frameLine & ((1u << kFrameLineBits) - 1)};
    return payload << 16 | crc16(payload);
}

// Nothing when the sync or the check does not match.
constexpr std::optional<Fields> fieldsOf(uint64_t word) {
    const uint64_t payload = word >> 16;
    if (payload >> 43 != kSync || crc16(payload) != static_cast<uint16_t>(word)) return std::nullopt;
    Fields f;
    f.fieldNumber = static_cast<uint32_t>(payload >> 19) & ((1u << kFieldNumberBits) - 1);
    f.secondField = (payload >> 18) & 1;
    f.sourceId = static_cast<uint8_t>(payload >> 10);
    f.frameLine = static_cast<uint16_t>(payload & ((1u << kFrameLineBits) - 1));
    return f;
}

static_assert(kSyncBits + kFieldNumberBits + 1 + 8 + kFrameLineBits + 16 == kSamples);
// The standard CRC-16/CCITT-FALSE: "123456" (six bytes) checks to 0x2EF4.
static_assert(crc16(0x313233343536) == 0x2EF4);
static_assert(fieldsOf(codeWord({0xABCDEF, true, 200, 575})) == Fields{0xABCDEF, true, 200, 575});
static_assert(!fieldsOf(codeWord({1, false, 0, 0}) ^ 1));

}  // namespace lxhw::tern::stamp
