#include "lxmachine/hw/display_adapter.h"

namespace lxhw {
namespace {

std::array<BarDescription, pci::kBarCount> displayBars(uint64_t vramSize) {
    std::array<BarDescription, pci::kBarCount> bars{};
    bars[0] = BarDescription{vramSize, false, true, true};
    bars[2] = BarDescription{DisplayAdapter::kRegisterBankSize, false, false, false};
    return bars;
}

PciIdentity displayIdentity() {
    PciIdentity id;
    id.vendor = pci::kLxVendor;
    id.device = pci::kDisplayAdapterDevice;
    id.baseClass = 0x03;
    id.subclass = 0x00;
    id.revision = 0x01;
    id.subsystemVendor = pci::kLxVendor;
    id.subsystem = 0x0001;
    return id;
}

}  // namespace

bool DisplayAdapter::modeFor(uint32_t width, uint32_t height, uint32_t bits, uint64_t vramSize,
                             DisplayMode* mode) {
    DisplayMode m;
    m.width = width;
    m.height = height;
    m.bits = bits;
    uint32_t bytesPerPixel = 0;
    switch (bits) {
    case 8: bytesPerPixel = 1; break;  // palette indices: no channel masks
    case 15: bytesPerPixel = 2; m.redMask = 0x7C00; m.greenMask = 0x03E0; m.blueMask = 0x001F; break;
    case 16: bytesPerPixel = 2; m.redMask = 0xF800; m.greenMask = 0x07E0; m.blueMask = 0x001F; break;
    case 24: bytesPerPixel = 3; m.redMask = 0xFF0000; m.greenMask = 0xFF00; m.blueMask = 0xFF; break;
    case 32: bytesPerPixel = 4; m.redMask = 0xFF0000; m.greenMask = 0xFF00; m.blueMask = 0xFF; break;
    default: return false;
    }
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return false;
    // Lines start on 4-byte boundaries, as a DIB's do.
    m.pitch = (width * bytesPerPixel + 3) & ~3u;
    if (uint64_t{m.pitch} * height > vramSize) return false;
    *mode = m;
    return true;
}

DisplayAdapter::DisplayAdapter(uint64_t vramBase, uint64_t vramSize, const DisplayMode& mode)
    : PciFunction(displayIdentity(), displayBars(vramSize), false), vramSize_(vramSize), mode_(mode) {
    setBarAddress(0, vramBase);
}

uint32_t DisplayAdapter::barRead(int barIndex, uint64_t offset, unsigned size) {
    if (barIndex != 2 || size != 4) return PciFunction::barRead(barIndex, offset, size);
    const DisplayMode m = mode();
    switch (offset) {
    case kRegMagic: return kMagic;
    case kRegWidth: return m.width;
    case kRegHeight: return m.height;
    case kRegBits: return m.bits;
    case kRegPitch: return m.pitch;
    case kRegRedMask: return m.redMask;
    case kRegGreenMask: return m.greenMask;
    case kRegBlueMask: return m.blueMask;
    case kRegVramSize: return static_cast<uint32_t>(vramSize_);
    default: return 0;
    }
}

DisplayMode DisplayAdapter::mode() const {
    std::lock_guard lock(modeMutex_);
    return mode_;
}

bool DisplayAdapter::setMode(uint32_t width, uint32_t height, uint32_t bits) {
    DisplayMode m;
    if (!modeFor(width, height, bits, vramSize_, &m)) return false;
    std::lock_guard lock(modeMutex_);
    mode_ = m;
    return true;
}

}  // namespace lxhw
