// The bytes of one fuzz input read as a stream of requests: bytes, little-
// endian words and buffers. Reading past the end gives zeros, so every input
// decodes to something and the fuzzer need not learn the length rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lx::fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t{byte()} << (8 * i);
        return value;
    }
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out(count);
        for (uint8_t& b : out) b = byte();
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace lx::fuzz
