// What one simulated PC is made of: the parsed form of the machine's
// configuration file. Every field has the default a missing key gets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lxm {

struct DisplayConfig {
    uint32_t width = 1024;
    uint32_t height = 768;
    uint32_t bits = 32;  // 8, 15, 16, 24 or 32
    uint32_t bus = 0;    // PCI bus of the display adapter
};

struct TernCardConfig {
    bool signature = true;
    uint8_t revision = 0x21;
    uint8_t boardSwitch = 0;  // 0..3, read on general-purpose lines 0 and 1
    // Per input multiplexer 0..3: "bars", "none" or "image:PATH".
    std::array<std::string, 4> sources{"none", "none", "none", "bars"};
};

// One audio function of a Heron card.
struct HeronAudioConfig {
    double rate = 375.0;  // audio blocks per second (48 kHz in blocks of 128 samples)
    bool port = false;    // registers in I/O port space instead of memory space
};

struct OsConfig {
    uint32_t major = 10;
    uint32_t minor = 0;
    bool workstation = true;
};

// What one client may take of the machine. A refused request gets the NT
// status (or Win32 error) a Windows program would see for an exhausted quota.
struct LimitsConfig {
    uint32_t requestBytes = (16u << 20) + 4096;  // largest request payload
    uint32_t helloTimeoutMs = 5000;               // a new connection must say hello within
    uint32_t connections = 1024;                  // connections (each a daemon thread), all clients
    uint32_t threadsPerProcess = 128;             // thread connections of one process
    uint32_t handlesPerProcess = 4096;            // named-object handles of one process
    uint32_t namedObjectsPerProcess = 256;        // named objects one process created that still exist
    uint32_t viewsPerProcess = 1024;              // views the machine records for one process
    uint32_t contiguousMbPerProcess = 128;        // contiguous memory the requests of one process hold
};

// The kernel's own settings.
struct KernelConfig {
    bool verifier = false;          // the driver verifier: broken kernel rules are bug checks
    uint32_t drainTimeoutMs = 20000;  // how long a reboot or power-off waits for requests to leave
    // How long the kernel waits for a driver before it gives up on it and
    // goes on: its PnP, power, cleanup and close requests, a cancelled
    // request of an exiting process, a DPC flush.
    uint32_t driverTimeoutMs = 10000;
};

struct MachineConfig {
    double clockFactor = 1.0;  // 1.0 = 50 fields/s PAL
    DisplayConfig display;
    uint32_t ramMb = 256;
    std::vector<TernCardConfig> terncards{TernCardConfig{}};
    std::vector<HeronAudioConfig> heronAudio;
    OsConfig os;
    LimitsConfig limits;
    KernelConfig kernel;
};

}  // namespace lxm
