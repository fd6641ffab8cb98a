// A small kernel for exercising the daemon and the compat layer without the
// real kernel runtime: one device "\\.\ECHO" (also reachable through an
// interface path), a RAM region, a registry kept in a file.
#pragma once

#include "nt/kernel_host.h"

namespace lxm::testing {

inline constexpr nt::Guid kEchoInterface{0x8B0B849E, 0x5BA2, 0x4DAE, {0x88, 0xDA, 0xCF, 0x4A, 0xC9, 0x9D, 0xAA, 0x37}};
inline constexpr uint64_t kFakeRamBase = 0x10000000;
inline constexpr uint64_t kFakeRamSize = 4u << 20;

// Control codes of the echo device.
inline constexpr uint32_t kIoctlEcho = 0x80002000;      // output = input; STATUS_BUFFER_TOO_SMALL if it does not fit
inline constexpr uint32_t kIoctlExact = 0x80002004;     // input exactly 4 bytes, else STATUS_INVALID_PARAMETER
inline constexpr uint32_t kIoctlBlock = 0x80002008;     // pends until the handle is closed: STATUS_CANCELLED
inline constexpr uint32_t kIoctlMap = 0x8000200C;       // in: u64 physical, u64 length, u8 fill; out: u64 address
inline constexpr uint32_t kIoctlUnmap = 0x80002010;     // in: u64 address
inline constexpr uint32_t kIoctlPhysical = 0x80002014;  // in: u64 address; out: u64 physical
inline constexpr uint32_t kIoctlWarning = 0x80002018;   // fills 8 bytes, answers STATUS_BUFFER_OVERFLOW
inline constexpr uint32_t kIoctlHang = 0x8000201C;      // ignores cancellation, exit and close until kIoctlUnhang (60 s at most)
inline constexpr uint32_t kIoctlUnhang = 0x80002020;    // ends every kIoctlHang

std::unique_ptr<nt::Kernel> bootFakeKernel(const nt::BootOptions& options, std::string* error);

}  // namespace lxm::testing
