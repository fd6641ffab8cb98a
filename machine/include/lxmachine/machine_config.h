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

struct MachineConfig {
    double clockFactor = 1.0;  // 1.0 = 50 fields/s PAL
    DisplayConfig display;
    uint32_t ramMb = 256;
    std::vector<TernCardConfig> terncards{TernCardConfig{}};
    std::vector<HeronAudioConfig> heronAudio;
    OsConfig os;
};

}  // namespace lxm
