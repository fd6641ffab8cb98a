// Byte offsets and values of the PCI type-0 configuration header.
#pragma once

#include <cstdint>

namespace lxhw::pci {

constexpr uint32_t kConfigSize = 256;
constexpr int kBarCount = 6;

constexpr uint32_t kVendorId = 0x00;
constexpr uint32_t kDeviceId = 0x02;
constexpr uint32_t kCommand = 0x04;
constexpr uint32_t kStatus = 0x06;
constexpr uint32_t kRevision = 0x08;
constexpr uint32_t kProgIf = 0x09;
constexpr uint32_t kSubclass = 0x0A;
constexpr uint32_t kClass = 0x0B;
constexpr uint32_t kCacheLineSize = 0x0C;
constexpr uint32_t kLatencyTimer = 0x0D;
constexpr uint32_t kHeaderType = 0x0E;
constexpr uint32_t kBar0 = 0x10;
constexpr uint32_t kSubsystemVendorId = 0x2C;
constexpr uint32_t kSubsystemId = 0x2E;
constexpr uint32_t kInterruptLine = 0x3C;
constexpr uint32_t kInterruptPin = 0x3D;

constexpr uint16_t kCommandIo = 0x0001;
constexpr uint16_t kCommandMemory = 0x0002;
constexpr uint16_t kCommandBusMaster = 0x0004;

constexpr uint32_t kBarIoSpace = 0x1;
constexpr uint32_t kBarPrefetchable = 0x8;

// Identifiers of the machine's own device models.
constexpr uint16_t kLxVendor = 0x4C58;
constexpr uint16_t kDisplayAdapterDevice = 0x0D15;
constexpr uint16_t kTernCardDevice = 0x7E2C;
constexpr uint16_t kHeronAudioDevice = 0x4E20;
constexpr uint16_t kHostBridgeDevice = 0x0B00;

}  // namespace lxhw::pci
