// Row geometry of DIB-layout images and the copy that lets a conversion read
// a source that its destination overlaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lxvidex {

// Bytes of a row of `width` pixels of `bits`, rounded up to 4 bytes.
constexpr uint64_t rowStride(uint64_t width, uint64_t bits) { return ((width * ((bits + 7) / 8) * 8 + 31) / 32) * 4; }

// rows x stride, or 0 when that is more than any buffer can hold.
constexpr uint64_t imageBytes(uint64_t stride, uint64_t rows) {
  constexpr uint64_t kLimit = static_cast<uint64_t>(PTRDIFF_MAX);
  if (rows != 0 && stride > kLimit / rows) {
    return 0;
  }
  return stride * rows;
}

// The source as a conversion reads it: the caller's bytes, or a copy of them
// when the destination overlaps them (in-place use). Throws std::bad_alloc.
class SourceView {
 public:
  SourceView(const void* source, uint64_t sourceBytes, const void* destination, uint64_t destinationBytes)
      : bytes_(static_cast<const uint8_t*>(source)) {
    const auto s = reinterpret_cast<uintptr_t>(source);
    const auto d = reinterpret_cast<uintptr_t>(destination);
    if (s < d + destinationBytes && d < s + sourceBytes) {
      copy_.assign(bytes_, bytes_ + sourceBytes);
      bytes_ = copy_.data();
    }
  }
  const uint8_t* data() const { return bytes_; }

 private:
  const uint8_t* bytes_;
  std::vector<uint8_t> copy_;
};

}  // namespace lxvidex
