// The shared records carry static_asserts on every size and offset; this file
// makes the build check them together, and checks the few helpers beside them.
#include <gtest/gtest.h>

#include "lx/internal/card_record.h"
#include "lx/card_type.h"
#include "lx/static_mem_records.h"
#include "lx/status.h"
#include "lx/internal/tern_card_context.h"
#include "lx/video_types.h"

namespace {

TEST(SharedTypes, BytesPerPixelFollowTheFormatAndRejectOtherValues) {
  const int32_t expected[] = {2, 3, 2, 2, 4, 1, 1};
  for (int32_t format = 0; format < LX_VIDEO_FORMAT_COUNT; ++format) {
    EXPECT_EQ(LxBytesPerPixel(format), expected[format]) << "format " << format;
  }
  EXPECT_EQ(LxBytesPerPixel(-1), 0);
  EXPECT_EQ(LxBytesPerPixel(LX_VIDEO_FORMAT_COUNT), 0);
}

TEST(SharedTypes, TernCardContextFieldsSeenAtTheirBytePositions) {
  // The public API reads these fields from raw bytes of the card library's block.
  TernCardContext context{};
  context.scanMode = 2;
  context.outputX = 0x1234;
  context.outputHeight = 240;
  context.maskEnabled = 1;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&context);
  EXPECT_EQ(bytes[336], 2);
  EXPECT_EQ(bytes[352] | bytes[353] << 8, 0x1234);
  EXPECT_EQ(bytes[358] | bytes[359] << 8, 240);
  EXPECT_EQ(bytes[364], 1);
}

}  // namespace
