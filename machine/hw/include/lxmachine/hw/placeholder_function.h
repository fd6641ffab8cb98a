// A stand-in for a device whose full model is not written yet: the right
// identifiers, a memory BAR of plain read/write registers and an interrupt
// pin that never fires. Lets drivers find, start and map the device.
#pragma once

#include <mutex>
#include <vector>

#include "lxmachine/hw/pci_function.h"

namespace lxhw {

class PlaceholderFunction final : public PciFunction {
public:
    PlaceholderFunction(std::string kind, const PciIdentity& identity, uint64_t registerBytes);

    std::string kind() const override { return kind_; }
    uint32_t barRead(int barIndex, uint64_t offset, unsigned size) override;
    void barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) override;

private:
    const std::string kind_;
    std::mutex mutex_;
    std::vector<uint8_t> registers_;
};

}  // namespace lxhw
