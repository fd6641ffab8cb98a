#include <gtest/gtest.h>

#include <vector>

#include "lxmachine/hw/device_factory.h"
#include "lxmachine/hw/pci_bus.h"
#include "lxmachine/hw/placeholder_function.h"

namespace lxhw {
namespace {

struct RecordingSink : InterruptSink {
    std::vector<std::pair<uint8_t, bool>> events;
    void setLineLevel(const void*, uint8_t line, bool asserted) override { events.emplace_back(line, asserted); }
};

class PulsingFunction : public PciFunction {
public:
    static std::array<BarDescription, pci::kBarCount> bars() {
        std::array<BarDescription, pci::kBarCount> b{};
        b[0] = {0x1000, false, false, false};
        b[1] = {0x20, true, false, false};
        b[3] = {0x100000, false, true, false};
        return b;
    }
    PulsingFunction() : PciFunction(PciIdentity{0x1234, 0x5678, 0x04, 0x80, 0, 7, 0x1234, 0x9}, bars(), true) {}
    std::string kind() const override { return "pulse"; }
    void barWrite(int bar, uint64_t offset, unsigned, uint32_t value) override {
        if (bar == 0 && offset == 0x10) value ? raiseInterrupt() : lowerInterrupt();
    }
};

TEST(PciBus, ConfigurationHeaderAndBarSizing) {
    RecordingSink sink;
    PciBus bus(2, &sink);
    auto function = std::make_shared<PulsingFunction>();
    ASSERT_TRUE(bus.place({1, 3, 0}, function));
    EXPECT_FALSE(bus.place({1, 3, 0}, std::make_shared<PulsingFunction>()));  // taken
    EXPECT_FALSE(bus.place({2, 0, 0}, std::make_shared<PulsingFunction>()));  // no such bus

    const PciAddress at{1, 3, 0};
    EXPECT_EQ(bus.configRead(at, 0, 4), 0x56781234u);
    EXPECT_EQ(bus.configRead(at, 0x08, 4), 0x04800007u);  // class, subclass, prog-if, revision
    EXPECT_EQ(bus.configRead(at, 0x0E, 1), 0u);           // header type 0
    EXPECT_EQ(bus.configRead(at, 0x2C, 4), 0x00091234u);
    EXPECT_EQ(bus.configRead(at, 0x3D, 1), 1u);           // INTA#
    EXPECT_EQ(bus.configRead(at, 0x3C, 1), PciBus::kFirstInterruptLine);
    EXPECT_EQ(bus.configRead({1, 4, 0}, 0, 4), 0xFFFFFFFFu);  // empty slot
    EXPECT_EQ(bus.configRead({0, 0, 0}, 0, 2), 0xFFFFu);

    const uint32_t bar0 = bus.configRead(at, 0x10, 4);
    EXPECT_EQ(bar0 & 0xF, 0u);
    EXPECT_GE(bar0, PciBus::kMemoryWindowBase);
    EXPECT_EQ(bar0 % 0x1000, 0u);
    // Sizing: all-ones reads back the size mask with the type bits; restoring works.
    bus.configWrite(at, 0x10, 4, 0xFFFFFFFF);
    EXPECT_EQ(bus.configRead(at, 0x10, 4), 0xFFFFF000u);
    bus.configWrite(at, 0x14, 4, 0xFFFFFFFF);
    EXPECT_EQ(bus.configRead(at, 0x14, 4), 0xFFFFFFE1u);  // 32 ports, I/O space bit
    bus.configWrite(at, 0x1C, 4, 0xFFFFFFFF);
    EXPECT_EQ(bus.configRead(at, 0x1C, 4), 0xFFF00008u);  // 1 MiB prefetchable
    bus.configWrite(at, 0x18, 4, 0xFFFFFFFF);
    EXPECT_EQ(bus.configRead(at, 0x18, 4), 0u);  // not implemented
    bus.configWrite(at, 0x10, 4, bar0);
    EXPECT_EQ(bus.configRead(at, 0x10, 4), bar0);
    // Read-only fields stay.
    bus.configWrite(at, 0, 4, 0);
    EXPECT_EQ(bus.configRead(at, 0, 2), 0x1234u);
}

TEST(PciBus, DecodesAddressesAndWiresInterrupts) {
    RecordingSink sink;
    PciBus bus(1, &sink);
    auto first = std::make_shared<PulsingFunction>();
    auto second = std::make_shared<PulsingFunction>();
    ASSERT_TRUE(bus.place({0, 1, 0}, first));
    ASSERT_TRUE(bus.place({0, 2, 0}, second));
    EXPECT_NE(first->barAddress(0), second->barAddress(0));
    EXPECT_NE(first->interruptLine(), second->interruptLine());

    auto hit = bus.decodeMemory(second->barAddress(0) + 0x10);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->function, second);
    EXPECT_EQ(hit->bar, 0);
    EXPECT_EQ(hit->offset, 0x10u);
    auto port = bus.decodeIo(first->barAddress(1) + 5);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->function, first);
    EXPECT_EQ(port->bar, 1);
    EXPECT_EQ(port->offset, 5u);
    EXPECT_FALSE(bus.decodeMemory(0x1000));

    // Memory decoding follows the command register.
    bus.configWrite({0, 2, 0}, 4, 2, 0);
    EXPECT_FALSE(bus.decodeMemory(second->barAddress(0)));

    hit->function->barWrite(0, 0x10, 4, 1);
    hit->function->barWrite(0, 0x10, 4, 0);
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0], std::make_pair(second->interruptLine(), true));
    EXPECT_EQ(sink.events[1], std::make_pair(second->interruptLine(), false));

    // A removed function's range goes to the next one.
    const uint64_t freed = first->barAddress(0);
    EXPECT_EQ(bus.remove({0, 1, 0}), first);
    auto third = std::make_shared<PulsingFunction>();
    ASSERT_TRUE(bus.place({0, 1, 0}, third));
    EXPECT_EQ(third->barAddress(0), freed);
    EXPECT_EQ(bus.functions().size(), 2u);
    EXPECT_EQ(*bus.freeDevice(0), 0u);
    EXPECT_EQ(*bus.freeDevice(0, 1), 3u);
}

TEST(DeviceFactory, KnowsTheCardKinds) {
    lxm::TernCardConfig card;
    card.revision = 0x33;
    auto tern = makeDevice("terncard", DeviceRequest{nullptr, &card, nullptr});
    ASSERT_TRUE(tern);
    EXPECT_EQ(tern->identity().device, pci::kTernCardDevice);
    EXPECT_EQ(tern->configRead(pci::kRevision, 1), 0x33u);
    EXPECT_EQ(tern->kind(), "terncard");
    EXPECT_EQ(tern->barRead(0, 0x0D4, 4), 0x44u);  // the card's pixel format after reset
    EXPECT_EQ(tern->barRead(0, 0x0D5, 1), 0x00u);
    EXPECT_EQ(tern->barRead(0, 0x2000, 4), 0xFFFFFFFFu);  // outside the window
    EXPECT_FALSE(makeDevice("nothing", {}));
}

}  // namespace
}  // namespace lxhw
