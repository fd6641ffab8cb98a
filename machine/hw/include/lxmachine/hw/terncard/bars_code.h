// The field number that the "bars" source carries in its picture, so that a
// test can tell which field landed where.
//
// The code is one band of 32 blocks across the top of every field: field
// lines 8 to 23 (frame lines 16 to 47), blocks 16 samples wide starting at
// sample 64 of the line. Block k (k = 0 leftmost) shows bit 31 - k of
//   word = (field number mod 2^24) << 8 | crc8(the three bytes of that number, high byte first)
// as white (Y 235) for 1 and black (Y 16) for 0; the rest of the band is
// black. A block stays at least 4 x 4 pixels after scaling the picture down
// to a quarter in both directions, and luma alone tells 0 from 1 in every
// pixel format.
#pragma once

#include <cstdint>

namespace lxhw::tern::bars {

constexpr uint32_t kBandFirstFieldLine = 8;
constexpr uint32_t kBandFieldLines = 16;
constexpr uint32_t kFirstBlockSample = 64;
constexpr uint32_t kBlockSamples = 16;
constexpr uint32_t kBlocks = 32;
constexpr uint32_t kFieldNumberBits = 24;
// Bars move left by this many samples per field.
constexpr uint32_t kSamplesPerField = 2;

constexpr uint8_t crc8(uint32_t value24) {
    uint8_t crc = 0;
    for (int byte = 2; byte >= 0; --byte) {
        crc ^= static_cast<uint8_t>(value24 >> (8 * byte));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

constexpr uint32_t codeWord(uint64_t fieldNumber) {
    const uint32_t n = static_cast<uint32_t>(fieldNumber & ((1u << kFieldNumberBits) - 1));
    return n << 8 | crc8(n);
}

constexpr bool codeWordValid(uint32_t word) { return crc8(word >> 8) == static_cast<uint8_t>(word); }

}  // namespace lxhw::tern::bars
