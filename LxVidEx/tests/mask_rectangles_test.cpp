// The mask bits of clip rectangles: the lines each row lands on in every scan
// mode, partial bytes at both ends in both bit orders, and rectangles that
// reach past the mask.
#include <gtest/gtest.h>

#include <vector>

#include "lx/video_types.h"
#include "mask_rectangles.h"

namespace {

constexpr size_t kGuard = 64;

// The card's mask with guard bytes on both sides.
class Mask {
 public:
  Mask() : bytes_(LX_MASK_BYTES + 2 * kGuard, 0) {}
  lxvidex::MaskLayout layout(int32_t bitOrder, int32_t scanMode) {
    return {mask(), mask() + LX_MASK_FIELD_BYTES, bitOrder, scanMode};
  }
  uint8_t* mask() { return bytes_.data() + kGuard; }
  uint8_t at(int field, int line, int byte) { return mask()[field * LX_MASK_FIELD_BYTES + line * 96 + byte]; }
  int setBytes() {
    int count = 0;
    for (uint32_t i = 0; i < LX_MASK_BYTES; ++i) count += mask()[i] != 0;
    return count;
  }
  bool guardsClear() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != 0 || bytes_[bytes_.size() - 1 - i] != 0) return false;
    }
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

TEST(MaskRectangles, AWholeOutputWindowInFrameModeSetsEveryRowAndColumn) {
  Mask mask;
  lxvidex::setRectangleBits(mask.layout(0, 0), RECT{0, 0, 640, 480});
  for (int field = 0; field < 2; ++field) {
    for (int line = 0; line < 240; ++line) {
      for (int byte = 0; byte < 80; ++byte) ASSERT_EQ(mask.at(field, line, byte), 0xFF) << field << "," << line;
      ASSERT_EQ(mask.at(field, line, 80), 0x00) << "column 640 shows no video";
    }
    EXPECT_EQ(mask.at(field, 240, 0), 0x00) << "row 480 shows no video";
  }
  EXPECT_EQ(mask.setBytes(), 2 * 240 * 80);
}

TEST(MaskRectangles, PartialBytesFollowTheBitOrder) {
  Mask order0;
  lxvidex::setRectangleBits(order0.layout(0, 0), RECT{3, 1, 13, 2});  // row 1: second field, line 0
  EXPECT_EQ(order0.at(1, 0, 0), 0xF8);  // pixels 3..7
  EXPECT_EQ(order0.at(1, 0, 1), 0x1F);  // pixels 8..12
  EXPECT_EQ(order0.setBytes(), 2);

  Mask order1;
  lxvidex::setRectangleBits(order1.layout(1, 0), RECT{3, 1, 13, 2});
  EXPECT_EQ(order1.at(1, 0, 0), 0x1F);
  EXPECT_EQ(order1.at(1, 0, 1), 0xF8);

  Mask oneByte;
  lxvidex::setRectangleBits(oneByte.layout(0, 0), RECT{2, 0, 5, 1});
  EXPECT_EQ(oneByte.at(0, 0, 0), 0x1C);  // pixels 2, 3 and 4 only
  EXPECT_EQ(oneByte.setBytes(), 1);

  Mask adjoining;  // two rectangles meeting inside a byte share it
  lxvidex::setRectangleBits(adjoining.layout(0, 0), RECT{0, 0, 4, 1});
  lxvidex::setRectangleBits(adjoining.layout(0, 0), RECT{6, 0, 8, 1});
  EXPECT_EQ(adjoining.at(0, 0, 0), 0xCF) << "pixels 4 and 5 stay hidden";
}

TEST(MaskRectangles, FieldModesUseOneHalfLineForLine) {
  Mask first;
  lxvidex::setRectangleBits(first.layout(0, 1), RECT{0, 5, 8, 7});
  EXPECT_EQ(first.at(0, 5, 0), 0xFF);
  EXPECT_EQ(first.at(0, 6, 0), 0xFF);
  EXPECT_EQ(first.setBytes(), 2);

  Mask second;
  lxvidex::setRectangleBits(second.layout(0, 2), RECT{8, 5, 16, 6});
  EXPECT_EQ(second.at(1, 5, 1), 0xFF);
  EXPECT_EQ(second.setBytes(), 1);
}

TEST(MaskRectangles, RectanglesPastTheMaskStayInsideIt) {
  Mask frame;
  lxvidex::setRectangleBits(frame.layout(1, 0), RECT{-20, -7, 5000, 3000});
  EXPECT_EQ(frame.setBytes(), static_cast<int>(LX_MASK_BYTES));
  EXPECT_TRUE(frame.guardsClear());

  Mask field;
  lxvidex::setRectangleBits(field.layout(0, 2), RECT{760, 280, 800, 400});
  EXPECT_EQ(field.at(1, 287, 95), 0xFF);
  EXPECT_EQ(field.setBytes(), 8);
  EXPECT_TRUE(field.guardsClear());

  Mask empty;
  lxvidex::setRectangleBits(empty.layout(0, 0), RECT{10, 10, 10, 20});
  lxvidex::setRectangleBits(empty.layout(0, 0), RECT{900, 0, 1000, 20});
  EXPECT_EQ(empty.setBytes(), 0);
}

}  // namespace
