// What the driver's tests do as a client process: open an audio function by
// its link or interface path, send raw control requests and keep the NT
// status of each, and drive the function's interrupts through its
// cause-set register.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "lx/internal/heron_audio_ioctl.h"

namespace heronau_test {

constexpr uint32_t kCauseSetRegister = 0x108;

constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010u;
constexpr uint32_t kStatusAccessDenied = 0xC0000022u;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009Du;
constexpr uint32_t kStatusNotSupported = 0xC00000BBu;
constexpr uint32_t kStatusCancelled = 0xC0000120u;

// "\\.\HeronAudioCapN"
std::string linkPath(int number);
std::vector<std::string> interfacePaths();
HANDLE openPath(const std::string& path);

struct IoResult {
    bool ok = false;
    uint32_t status = 0;  // NT status of the request
    DWORD returned = 0;
};

IoResult control(HANDLE audio, uint32_t code, const void* input, DWORD inputLength, void* output,
                 DWORD outputLength);
IoResult registerIo(HANDLE audio, uint32_t operation, uint32_t offset, uint32_t value,
                    AudioRegisterRequest* answer);
// The word at `offset`; 0xFFFFFFFF... is a value like any other, so ok tells.
bool readUlong(HANDLE audio, uint32_t offset, uint32_t* value);
bool interruptCount(HANDLE audio, uint32_t* count);
bool setInterruptCount(HANDLE audio, uint32_t count);
// Raises `causes` through the cause-set register and waits (bounded) until
// the interrupt routine has acknowledged them: the status register reads 0.
bool raiseAndSettle(HANDLE audio, uint32_t causes);

// A wait request sent on its own thread.
class WaitInFlight {
public:
    explicit WaitInFlight(HANDLE audio);
    ~WaitInFlight();
    bool done() const;
    // Waits (bounded) for the request to finish; false when it did not.
    bool finish(int timeoutMs = 10000);
    uint32_t status() const { return status_.load(); }
    bool ok() const { return ok_.load(); }

private:
    HANDLE audio_;
    std::atomic<bool> done_{false};
    std::atomic<bool> ok_{false};
    std::atomic<uint32_t> status_{0};
    std::thread thread_;
};

// Polls `done` every millisecond for at most `timeoutMs`.
template <typename Done>
bool eventually(Done done, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; ++waited) {
        if (done()) return true;
        Sleep(1);
    }
    return done();
}

}  // namespace heronau_test
