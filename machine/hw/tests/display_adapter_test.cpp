#include <gtest/gtest.h>

#include "lxmachine/hw/display_adapter.h"

namespace lxhw {
namespace {

TEST(DisplayAdapter, ModesHaveMasksAndPitch) {
    DisplayMode m;
    ASSERT_TRUE(DisplayAdapter::modeFor(800, 600, 15, 16 << 20, &m));
    EXPECT_EQ(m.pitch, 1600u);
    EXPECT_EQ(m.redMask, 0x7C00u);
    EXPECT_EQ(m.greenMask, 0x03E0u);
    EXPECT_EQ(m.blueMask, 0x001Fu);
    ASSERT_TRUE(DisplayAdapter::modeFor(1024, 768, 16, 16 << 20, &m));
    EXPECT_EQ(m.redMask, 0xF800u);
    EXPECT_EQ(m.greenMask, 0x07E0u);
    EXPECT_EQ(m.pitch, 2048u);
    ASSERT_TRUE(DisplayAdapter::modeFor(1023, 10, 24, 16 << 20, &m));
    EXPECT_EQ(m.pitch, 3072u);  // 3069 rounded up to a 4-byte boundary
    EXPECT_EQ(m.redMask, 0xFF0000u);
    ASSERT_TRUE(DisplayAdapter::modeFor(640, 480, 8, 16 << 20, &m));
    EXPECT_EQ(m.redMask, 0u);
    EXPECT_FALSE(DisplayAdapter::modeFor(640, 480, 12, 16 << 20, &m));
    EXPECT_FALSE(DisplayAdapter::modeFor(4096, 2048, 32, 16 << 20, &m));  // 32 MiB
    EXPECT_FALSE(DisplayAdapter::modeFor(0, 480, 32, 16 << 20, &m));
}

TEST(DisplayAdapter, HeaderRegistersAndModeChange) {
    DisplayMode initial;
    ASSERT_TRUE(DisplayAdapter::modeFor(1024, 768, 32, DisplayAdapter::kDefaultVramSize, &initial));
    DisplayAdapter display(DisplayAdapter::kDefaultVramBase, DisplayAdapter::kDefaultVramSize, initial);
    EXPECT_EQ(display.configRead(0x0A, 2), 0x0300u);  // VGA-compatible display controller
    EXPECT_EQ(display.configRead(0x00, 2), pci::kLxVendor);
    EXPECT_EQ(display.configRead(0x10, 4), 0xE0000008u);  // prefetchable memory at the VRAM
    EXPECT_EQ(display.vramBase(), 0xE0000000u);
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegMagic, 4), DisplayAdapter::kMagic);
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegPitch, 4), 4096u);

    EXPECT_FALSE(display.setMode(1024, 768, 7));
    EXPECT_EQ(display.mode(), initial);  // a refused mode changes nothing
    ASSERT_TRUE(display.setMode(800, 600, 16));
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegWidth, 4), 800u);
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegBits, 4), 16u);
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegRedMask, 4), 0xF800u);
    EXPECT_EQ(display.barRead(2, DisplayAdapter::kRegVramSize, 4), 16u << 20);
}

}  // namespace
}  // namespace lxhw
