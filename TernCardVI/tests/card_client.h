// What the driver's tests do as a client process: find the cards through
// the interface class, open them as the card library does, and send raw
// control requests, keeping the Win32 error and the NT status of each.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lx/internal/terncard_ioctl.h"

namespace terncardvi_test {

// Device paths of the present card interfaces, in enumeration order.
std::vector<std::string> cardInterfacePaths();
// Opens interface member `index` with the card library's access and sharing;
// INVALID_HANDLE_VALUE when it cannot.
HANDLE openCard(int index);
HANDLE openPath(const std::string& path);

struct IoResult {
    bool ok = false;
    DWORD error = 0;      // GetLastError after a failure
    uint32_t status = 0;  // NT status of the request
    DWORD returned = 0;
};

IoResult control(HANDLE card, uint32_t code, const void* input, DWORD inputLength, void* output, DWORD outputLength);
IoResult registerRequest(HANDLE card, uint32_t operation, uint32_t offset, uint32_t value, void* output,
                         DWORD outputLength);
// Word access as the card library does it; false when the request failed.
bool readWord(HANDLE card, uint32_t offset, uint32_t* value);
bool writeWord(HANDLE card, uint32_t offset, uint32_t value);

constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010u;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009Du;
constexpr uint32_t kStatusNotSupported = 0xC00000BBu;
constexpr uint32_t kStatusCancelled = 0xC0000120u;
constexpr uint32_t kStatusInvalidHandle = 0xC0000008u;

}  // namespace terncardvi_test
