// Output buffers for bad-argument tests: the bytes end right at a page that
// cannot be touched, and are filled with a canary, so a call that writes
// past its size faults and one that writes where it should not is seen.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace terncard::testing {

class GuardedBuffer {
 public:
  static constexpr uint8_t kCanary = 0xA5;

  explicit GuardedBuffer(size_t bytes) : bytes_(bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = ((bytes + page - 1) / page + 1) * page;
    void* region = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) {
      mapped_ = 0;
      return;
    }
    region_ = static_cast<uint8_t*>(region);
    mprotect(region_ + mapped_ - page, page, PROT_NONE);
    data_ = region_ + mapped_ - page - bytes;
    refill();
  }
  ~GuardedBuffer() {
    if (region_ != nullptr) munmap(region_, mapped_);
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() const { return data_; }
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(data_);
  }
  void refill() { std::memset(data_, kCanary, bytes_); }
  bool untouched() const {
    for (size_t k = 0; k < bytes_; ++k)
      if (data_[k] != kCanary) return false;
    return true;
  }

 private:
  size_t bytes_;
  size_t mapped_ = 0;
  uint8_t* region_ = nullptr;
  uint8_t* data_ = nullptr;
};

}  // namespace terncard::testing
