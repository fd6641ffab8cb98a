// The audio function's registers: cause bits and their acknowledgement,
// the control register's lanes, the block clock and the line it drives.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "lxmachine/hw/device_factory.h"
#include "lxmachine/hw/heron/heron_audio.h"
#include "lxmachine/hw/pci_bus.h"

namespace lxhw::heron {
namespace {

struct LineRecorder : InterruptSink {
    std::mutex mutex;
    std::vector<bool> levels;
    void setLineLevel(const void*, uint8_t, bool asserted) override {
        std::lock_guard lock(mutex);
        levels.push_back(asserted);
    }
    std::vector<bool> taken() {
        std::lock_guard lock(mutex);
        return std::exchange(levels, {});
    }
};

TEST(HeronAudio, CausesAreAcknowledgedByWritingBackWhatWasRead) {
    LineRecorder line;
    PciBus bus(1, &line);
    auto audio = std::make_shared<HeronAudio>(HeronAudioSetup{});
    ASSERT_TRUE(bus.place({0, 16, 0}, audio));
    line.taken();

    audio->raiseCauses(0x1000 | 0x80000 | 0x400 | 0x100000);  // bits 10 and 20 are not causes
    EXPECT_EQ(audio->barRead(0, reg::kStatus, 4), 0x81000u);
    EXPECT_EQ(line.taken(), std::vector<bool>{true});
    // A partial acknowledgement leaves the other cause and the line up.
    audio->barWrite(0, reg::kStatus, 4, 0x1000);
    EXPECT_EQ(audio->barRead(0, reg::kStatus, 4), 0x80000u);
    EXPECT_TRUE(line.taken().empty());
    // The byte lane of bit 19 acknowledges it: the line drops.
    audio->barWrite(0, reg::kStatus + 2, 1, 0x08);
    EXPECT_EQ(audio->barRead(0, reg::kStatus, 4), 0u);
    EXPECT_EQ(line.taken(), std::vector<bool>{false});

    // The cause-set register raises causes like the function's own events.
    audio->barWrite(0, reg::kCauseSet, 4, 0xFFFFFFFF);
    EXPECT_EQ(audio->barRead(0, reg::kStatus, 4), kCauseMask);
    EXPECT_EQ(audio->barRead(0, reg::kCauseSet, 4), 0u);
    EXPECT_EQ(audio->interruptsRaised(), 2u);
    EXPECT_EQ(audio->blocksCompleted(), 0u);
}

TEST(HeronAudio, WindowBytesControlLanesAndBounds) {
    HeronAudio audio(HeronAudioSetup{});
    EXPECT_EQ(audio.bar(0).size, kMemoryWindowSize);
    EXPECT_FALSE(audio.bar(0).io);
    audio.barWrite(0, 0x10, 4, 0x11223344);
    audio.barWrite(0, 0x11, 1, 0xAB);
    EXPECT_EQ(audio.barRead(0, 0x10, 4), 0x1122AB44u);
    EXPECT_EQ(audio.barRead(0, 0x12, 2), 0x1122u);
    // Control: a byte write changes its lane only.
    audio.barWrite(0, reg::kControl, 4, 0xA5000000);
    audio.barWrite(0, reg::kControl + 1, 1, 0x00);
    EXPECT_EQ(audio.barRead(0, reg::kControl, 4), 0xA5000000u);
    // Unaligned or outside: all-ones, nothing written.
    EXPECT_EQ(audio.barRead(0, 0x11, 4), 0xFFFFFFFFu);
    EXPECT_EQ(audio.barRead(0, kMemoryWindowSize - 2, 4), 0xFFFFFFFFu);
    EXPECT_EQ(audio.barRead(0, kMemoryWindowSize, 1), 0xFFu);
    audio.barWrite(0, kMemoryWindowSize - 4, 4, 0x55);
    EXPECT_EQ(audio.barRead(0, kMemoryWindowSize - 4, 4), 0x55u);
    audio.barWrite(0, kMemoryWindowSize, 4, 0x66);
    EXPECT_EQ(audio.barRead(0, kMemoryWindowSize - 4, 4), 0x55u);

    HeronAudio ports(HeronAudioSetup{375.0, true, 1.0});
    EXPECT_EQ(ports.bar(0).size, kPortWindowSize);
    EXPECT_TRUE(ports.bar(0).io);
    EXPECT_EQ(ports.barRead(0, kPortWindowSize, 4), 0xFFFFFFFFu);
}

// Bounded polling: the clock runs on its own thread.
template <typename Done>
bool within(std::chrono::milliseconds limit, Done done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(HeronAudio, BlocksFinishOnlyWhileEnabled) {
    HeronAudio audio(HeronAudioSetup{1000.0, false, 1.0});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(audio.blocksCompleted(), 0u);
    EXPECT_EQ(audio.barRead(0, reg::kStatus, 4), 0u);

    audio.barWrite(0, reg::kControl, 4, kBlockDone);
    ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return audio.blocksCompleted() >= 3; }));
    EXPECT_EQ(audio.barRead(0, reg::kStatus, 4) & kCauseMask, kBlockDone);

    audio.barWrite(0, reg::kControl, 4, 0);
    const uint64_t stopped = audio.blocksCompleted();
    audio.barWrite(0, reg::kStatus, 4, kBlockDone);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(audio.blocksCompleted(), stopped);
    EXPECT_EQ(audio.barRead(0, reg::kStatus, 4), 0u);
}

TEST(HeronAudio, FactoryTakesTheConfiguration) {
    lxm::MachineConfig machine;
    lxm::HeronAudioConfig config{2000.0, true};
    auto function = makeDevice("heron_audio", DeviceRequest{&machine, nullptr, &config});
    ASSERT_TRUE(function);
    HeronAudio* audio = asHeronAudio(function.get());
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(function->identity().vendor, pci::kLxVendor);
    EXPECT_EQ(function->identity().device, pci::kHeronAudioDevice);
    EXPECT_TRUE(function->usesInterrupt());
    EXPECT_TRUE(audio->portSpace());
    EXPECT_EQ(audio->blockRate(), 2000.0);
    EXPECT_EQ(asHeronAudio(makeDevice("terncard", DeviceRequest{}).get()), nullptr);
}

}  // namespace
}  // namespace lxhw::heron
