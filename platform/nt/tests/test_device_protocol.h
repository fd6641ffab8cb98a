// What the test driver and the tests agree on: the test PCI function's
// registers, the driver's control codes and their records.
#pragma once

#include <cstdint>

namespace nttest {

constexpr uint16_t kVendor = 0x4C58;
constexpr uint16_t kDevice = 0x7E57;

// Registers of BAR 0 (memory, 4 KiB).
constexpr uint32_t kRegId = 0x00;         // reads kIdValue
constexpr uint32_t kRegScratch = 0x04;    // read/write
constexpr uint32_t kRegIrqRaise = 0x08;   // write: status |= value, line raised
constexpr uint32_t kRegIrqStatus = 0x0C;  // read status; write 1s to clear, line lowered at 0
constexpr uint32_t kRegReadCount = 0x10;  // counts its own reads
constexpr uint32_t kIdValue = 0x7E57C0DE;
// BAR 1: 32 I/O ports; port 0 is a scratch byte.

constexpr uint32_t ctl(uint32_t function) { return 0x8000u << 16 | function << 2; }  // buffered, any access
constexpr uint32_t kIoctlEcho = ctl(0x801);       // output = input ^ 0x5A, information = input length
constexpr uint32_t kIoctlRegRead = ctl(0x802);    // in: u32 offset; out: u32
constexpr uint32_t kIoctlRegWrite = ctl(0x803);   // in: u32 offset, u32 value
constexpr uint32_t kIoctlPort = ctl(0x804);       // in: u32 value written to port 0; out: u32 read back
constexpr uint32_t kIoctlWait = ctl(0x805);       // pending until an interrupt's DPC; out: u32 interrupt count
constexpr uint32_t kIoctlQueued = ctl(0x806);     // in: u32 tag, through start-I/O; out: u32 position
constexpr uint32_t kIoctlOrder = ctl(0x807);      // out: u32 count then the tags in start-I/O order
constexpr uint32_t kIoctlMap = ctl(0x808);        // in: u32 size; out: MapRecord
constexpr uint32_t kIoctlUnmap = ctl(0x809);      // in: MapRecord
constexpr uint32_t kIoctlCounts = ctl(0x80A);     // out: Counts
constexpr uint32_t kIoctlPhysical = ctl(0x80B);   // in: u64 address; out: u64 physical (0 when invalid)
constexpr uint32_t kIoctlPciConfig = ctl(0x80C);  // in: u32 bus, u32 slot; out: up to 64 bytes
constexpr uint32_t kIoctlSlot = ctl(0x80D);       // out: SlotRecord
constexpr uint32_t kIoctlHold = ctl(0x80E);       // start-I/O holds it until kIoctlRelease
constexpr uint32_t kIoctlRelease = ctl(0x80F);

struct MapRecord {
    uint64_t userAddress;
    uint64_t physical;
    uint64_t kernelAddress;
};
static_assert(sizeof(MapRecord) == 24);

struct Counts {
    uint32_t interrupts;
    uint32_t dpcs;
    uint32_t opens;
    uint32_t lastStatus;  // interrupt status the ISR saw last
    uint32_t waiting;     // wait requests pending
    uint32_t queued;      // requests in the start-I/O queue behind the current one
    uint32_t holding;     // 1 while start-I/O holds a kIoctlHold request
};
static_assert(sizeof(Counts) == 28);

struct SlotRecord {
    uint16_t device;
    uint16_t function;
    uint32_t bus;
    uint32_t uiNumber;
};
static_assert(sizeof(SlotRecord) == 12);

}  // namespace nttest
