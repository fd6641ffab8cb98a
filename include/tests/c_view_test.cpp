// The public headers mean the same from C as from C++: every size, offset,
// constant and helper result below is computed once by a C11 translation
// unit and once here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "all_public_headers.h"
#include "c_view.h"

namespace {

struct Fact {
  const char* text;
  int64_t value;
};

std::vector<Fact> cxxFacts() {
  std::vector<Fact> facts;
#define FACT(expression) facts.push_back({#expression, static_cast<int64_t>(expression)});
#include "facts.inc"
#undef FACT
  return facts;
}

TEST(PublicHeaders, CAndCxxAgreeOnEveryLayoutAndValue) {
  const std::vector<Fact> expected = cxxFacts();
  std::vector<int64_t> seen(expected.size() + 1, -12345);
  ASSERT_EQ(lxCViewFacts(seen.data(), static_cast<int>(seen.size())), static_cast<int>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i], expected[i].value) << expected[i].text;
  }
}

TEST(PublicHeaders, ValuesThatStoredFilesAndPeersRelyOn) {
  EXPECT_EQ(LX_OK, 0);
  EXPECT_EQ(LX_INTERNAL_ERROR, -30);
  EXPECT_EQ(LX_LOWEST_STATUS, -LX_STATUS_COUNT + 1);
  EXPECT_EQ(sizeof(LxVideoFormat), 4u);
  EXPECT_EQ(LX_MASK_BYTES, 0xd800u);
  EXPECT_EQ(LX_STATIC_MEM_WHOLE, 0xFFFFFFFFu);
  const int32_t bytesPerPixel[LX_VIDEO_FORMAT_COUNT + 1] = {2, 3, 2, 2, 4, 1, 1, 0};
  for (int32_t format = -1; format <= LX_VIDEO_FORMAT_COUNT; ++format) {
    EXPECT_EQ(LxBytesPerPixel(format), format < 0 ? 0 : bytesPerPixel[format]) << format;
  }
  const int32_t boardBytes[LX_BOARD_INFO_KIND_COUNT] = {2, 12, 1, 5, 1, 1, 1, 1};
  for (int32_t kind = 0; kind < LX_BOARD_INFO_KIND_COUNT; ++kind) {
    EXPECT_EQ(LxBoardInfoBytes(kind), boardBytes[kind]) << kind;
  }
  static_assert(LxBytesPerPixel(LX_VIDEO_FORMAT_RGB8888) == 4, "usable in constant expressions");
}

}  // namespace
