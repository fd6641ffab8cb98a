// The library's one device handle to the static-memory driver, opened when
// the library is attached to a process and closed when it is detached.
#pragma once

#include <cstdint>

namespace hmb {

// Sends one device control request synchronously on the module's handle;
// false when the device is not open or the driver refused the request.
bool sendServiceRequest(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength);

}  // namespace hmb
