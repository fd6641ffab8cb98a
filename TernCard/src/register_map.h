// The card's register window as the library drives it: register offsets,
// the initial register table loaded at bring-up, and the shadow cells.
#pragma once

#include <array>
#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Register offsets. A and B hold the geometry of the first and the second
// field; B lies kSetB above A and always receives the same values.
inline constexpr uint16_t REG_VIDEO_STATUS = 0x000;
inline constexpr uint16_t REG_INPUT_FORMAT = 0x004;
inline constexpr uint16_t REG_DECIMATION = 0x008;
inline constexpr uint16_t REG_HIGH_BITS_A = 0x00C;
inline constexpr uint16_t REG_VDELAY_A = 0x010;
inline constexpr uint16_t REG_VACTIVE_A = 0x014;
inline constexpr uint16_t REG_HDELAY_A = 0x018;
inline constexpr uint16_t REG_HACTIVE_A = 0x01C;
inline constexpr uint16_t REG_HSCALE_HI_A = 0x020;
inline constexpr uint16_t REG_HSCALE_LO_A = 0x024;
inline constexpr uint16_t REG_BRIGHTNESS = 0x028;
inline constexpr uint16_t REG_CONTROL_A = 0x02C;
inline constexpr uint16_t REG_CONTRAST = 0x030;
inline constexpr uint16_t REG_SAT_U = 0x034;
inline constexpr uint16_t REG_SAT_V = 0x038;
inline constexpr uint16_t REG_HUE = 0x03C;
inline constexpr uint16_t REG_PIXEL_OPTIONS = 0x048;
inline constexpr uint16_t REG_VSCALE_HI_A = 0x04C;
inline constexpr uint16_t REG_VSCALE_LO_A = 0x050;
inline constexpr uint16_t REG_AUDIO_RESET = 0x058;
inline constexpr uint16_t REG_TIMING_1 = 0x060;
inline constexpr uint16_t REG_TIMING_2 = 0x064;
inline constexpr uint16_t REG_SOURCE_CONTROL = 0x068;
inline constexpr uint16_t REG_RESET = 0x07C;
inline constexpr uint16_t REG_SYNC_CONTROL = 0x084;
inline constexpr uint16_t REG_PIXEL_FORMAT = 0x0D4;
inline constexpr uint16_t REG_PIXEL_CONTROL = 0x0D8;
inline constexpr uint16_t REG_CAPTURE_CONTROL = 0x0DC;
// The field clock: CLOCK_MONOTONIC ns of the last field end; reading the low
// word latches the high word.
inline constexpr uint16_t REG_FIELD_END_TIME_LO = 0x0E0;
inline constexpr uint16_t REG_FIELD_END_TIME_HI = 0x0E4;
inline constexpr uint16_t REG_FIELD_COUNT = 0x0E8;
inline constexpr uint16_t REG_CLOCK_1 = 0x0F0;
inline constexpr uint16_t REG_CLOCK_2 = 0x0F4;
inline constexpr uint16_t REG_CLOCK_3 = 0x0F8;
inline constexpr uint16_t REG_INT_STATUS = 0x100;
inline constexpr uint16_t REG_DMA_CONTROL = 0x10C;
inline constexpr uint16_t REG_I2C = 0x110;
inline constexpr uint16_t REG_PROGRAM_START = 0x114;
inline constexpr uint16_t REG_GPIO_ENABLE = 0x118;
inline constexpr uint16_t REG_PROGRAM_COUNTER = 0x120;
inline constexpr uint16_t REG_GPIO_DATA = 0x200;

inline constexpr uint16_t kSetB = 0x80;

// The register window is 4 KiB of 32-bit registers.
inline constexpr uint32_t kRegisterWindowBytes = 0x1000;

// REG_VIDEO_STATUS
inline constexpr uint32_t kVideoSignalPresent = 1u << 7;
// REG_INT_STATUS
inline constexpr uint32_t kI2cStepDone = 1u << 8;
inline constexpr uint32_t kI2cAcknowledged = 1u << 25;

// Shadow cells: cell k shadows offset 4k for k < 72; the general-purpose
// output levels (REG_GPIO_DATA) have a cell of their own.
inline constexpr int kTableRegisterCount = 72;
inline constexpr int kGpioDataShadowCell = 72;
static_assert(TERN_REGISTER_SHADOW_CELLS == kTableRegisterCount + 1);

constexpr int shadowCellOf(uint16_t offset) { return offset / 4; }

// Register values loaded at bring-up, entry k for offset 4k.
constexpr std::array<uint32_t, kTableRegisterCount> makeInitialRegisterTable() {
  std::array<uint32_t, kTableRegisterCount> table{};
  table[0x040 / 4] = 0x60;
  table[REG_PIXEL_OPTIONS / 4] = 0x80;
  table[REG_VSCALE_HI_A / 4] = 0x60;
  table[0x054 / 4] = 0x01;
  table[REG_TIMING_1 / 4] = 0x70;
  table[REG_TIMING_2 / 4] = 0x5D;
  table[REG_SOURCE_CONTROL / 4] = 0x82;
  table[0x0C0 / 4] = 0x60;
  table[(REG_VSCALE_HI_A + kSetB) / 4] = 0x60;
  table[REG_PIXEL_FORMAT / 4] = 0x44;
  table[REG_PIXEL_CONTROL / 4] = 0x10;
  table[REG_CLOCK_1 / 4] = 0xF5;
  table[REG_CLOCK_2 / 4] = 0xAF;
  table[REG_CLOCK_3 / 4] = 0x89;
  table[REG_I2C / 4] = 0x03;
  return table;
}
inline constexpr std::array<uint32_t, kTableRegisterCount> initialRegisterTable = makeInitialRegisterTable();

static_assert(initialRegisterTable[53] == 0x44, "REG_PIXEL_FORMAT doubles as the presence check");
static_assert(initialRegisterTable[shadowCellOf(REG_RESET)] == 0);

}  // namespace terncard
