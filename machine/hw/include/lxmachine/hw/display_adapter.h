// The display adapter: PCI class 0x03/0x00 with its VRAM behind BAR 0 and a
// small read-only register bank behind BAR 2 that tells the current mode.
// The mode (size, depth, channel masks, pitch) can change while the machine runs.
#pragma once

#include <cstdint>
#include <mutex>

#include "lxmachine/hw/pci_function.h"
#include "lxmachine/machine_config.h"

namespace lxhw {

struct DisplayMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits = 0;
    uint32_t redMask = 0;
    uint32_t greenMask = 0;
    uint32_t blueMask = 0;
    uint32_t pitch = 0;  // bytes per line
    friend bool operator==(const DisplayMode&, const DisplayMode&) = default;
};

class DisplayAdapter final : public PciFunction {
public:
    static constexpr uint64_t kDefaultVramSize = 16 * 1024 * 1024;
    static constexpr uint64_t kDefaultVramBase = 0xE0000000;
    static constexpr uint64_t kRegisterBankSize = 0x1000;

    // Register bank (BAR 2), 32-bit, read only.
    enum Register : uint32_t {
        kRegMagic = 0x00,  // "LXVG"
        kRegWidth = 0x04,
        kRegHeight = 0x08,
        kRegBits = 0x0C,
        kRegPitch = 0x10,
        kRegRedMask = 0x14,
        kRegGreenMask = 0x18,
        kRegBlueMask = 0x1C,
        kRegVramSize = 0x20,
    };
    static constexpr uint32_t kMagic = 0x4756584C;

    // The mode a configuration asks for, or false when it does not fit the VRAM
    // or names an unsupported depth.
    static bool modeFor(uint32_t width, uint32_t height, uint32_t bits, uint64_t vramSize, DisplayMode* mode);

    DisplayAdapter(uint64_t vramBase, uint64_t vramSize, const DisplayMode& mode);

    std::string kind() const override { return "display"; }
    uint32_t barRead(int barIndex, uint64_t offset, unsigned size) override;

    DisplayMode mode() const;
    bool setMode(uint32_t width, uint32_t height, uint32_t bits);
    uint64_t vramBase() const { return barAddress(0); }
    uint64_t vramSize() const { return vramSize_; }

private:
    const uint64_t vramSize_;
    mutable std::mutex modeMutex_;
    DisplayMode mode_;
};

}  // namespace lxhw
