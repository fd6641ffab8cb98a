// Per-type rules of opening and input selection, on their own: the start
// results of every card type and the input code of every video source.
#include <gtest/gtest.h>

#include "card_type_rules.h"

namespace lxvideo {
namespace {

constexpr int32_t kHeron = 0, kEgret = 1, kStork = 2, kCrane = 3, kTern = 4;
constexpr uint64_t kMinusOne = ~uint64_t{0};

TEST(BeginResultMap, FirstLayoutTypes) {
  for (int32_t type : {kHeron, kCrane, kTern}) {
    EXPECT_EQ(beginResultStatus(type, 0), LX_CARD_HANDLE_INVALID) << type;
    EXPECT_EQ(beginResultStatus(type, 1), LX_NO_CARD_FOUND) << type;
    EXPECT_EQ(beginResultStatus(type, 2), LX_HW_MAP_MEMORY_ERROR) << type;
    EXPECT_EQ(beginResultStatus(type, 3), LX_NOT_ENOUGH_SYSTEM_MEMORY) << type;
    EXPECT_EQ(beginResultStatus(type, kMinusOne), LX_HW_INIT_ERROR) << type;
    for (uint64_t context : {13ull, 14ull, 15ull, 0x1002ull, 0xFFFFFFFFull, 0x100000000ull}) {
      EXPECT_EQ(beginResultStatus(type, context), LX_OK) << type << " " << context;
    }
  }
  // Only the TernCard library's "no screen device context" is a failure.
  EXPECT_EQ(beginResultStatus(kTern, 4), LX_HW_INIT_ERROR);
  EXPECT_EQ(beginResultStatus(kHeron, 4), LX_OK);
  EXPECT_EQ(beginResultStatus(kCrane, 4), LX_OK);
}

TEST(BeginResultMap, SecondLayoutTypes) {
  for (int32_t type : {kEgret, kStork}) {
    EXPECT_EQ(beginResultStatus(type, 0), LX_CARD_HANDLE_INVALID);
    EXPECT_EQ(beginResultStatus(type, 1), LX_NO_CARD_FOUND);
    EXPECT_EQ(beginResultStatus(type, 2), LX_HW_MAP_MEMORY_ERROR);
    EXPECT_EQ(beginResultStatus(type, 3), LX_OK) << "a context for these types";
    EXPECT_EQ(beginResultStatus(type, 4), LX_OK);
    EXPECT_EQ(beginResultStatus(type, 13), LX_HW_INIT_I2C_ERROR);
    EXPECT_EQ(beginResultStatus(type, 14), LX_HW_INIT_AD_ERROR);
    EXPECT_EQ(beginResultStatus(type, 15), LX_HW_BOARD_TYPE_ERROR);
    EXPECT_EQ(beginResultStatus(type, kMinusOne), LX_HW_INIT_ERROR);
    EXPECT_EQ(beginResultStatus(type, 0xFFFFFFFFull), LX_OK) << "only the full 64-bit -1 fails";
  }
}

// Input code of (kind, number), or -1 when refused.
int code(int32_t type, int32_t kind, int32_t number) {
  uint8_t value = 0xEE;
  return videoSourceCode(type, LxVideoSource{kind, number}, &value) ? value : -1;
}

TEST(VideoSourceMap, EveryTypeAndKind) {
  for (int32_t type : {kHeron, kTern}) {
    EXPECT_EQ(code(type, 0, 0), 0);
    EXPECT_EQ(code(type, 0, 1), 1);
    EXPECT_EQ(code(type, 0, 2), 2);
    EXPECT_EQ(code(type, 0, 3), 4);
    EXPECT_EQ(code(type, 0, 4), -1);
    EXPECT_EQ(code(type, 1, 0), 3);
    EXPECT_EQ(code(type, 1, 1), -1);
    EXPECT_EQ(code(type, 2, 0), -1);
  }
  for (int n = 0; n < 6; ++n) {
    EXPECT_EQ(code(kEgret, 0, n), n);
    EXPECT_EQ(code(kStork, 0, n), n);
  }
  EXPECT_EQ(code(kEgret, 0, 6), -1);
  EXPECT_EQ(code(kEgret, 1, 0), 6);
  EXPECT_EQ(code(kEgret, 1, 2), 8);
  EXPECT_EQ(code(kEgret, 1, 3), -1);
  EXPECT_EQ(code(kEgret, 2, 0), 9);
  EXPECT_EQ(code(kEgret, 2, 1), -1);
  EXPECT_EQ(code(kStork, 1, 1), 7);
  EXPECT_EQ(code(kStork, 1, 2), -1);
  EXPECT_EQ(code(kStork, 2, 0), 8);
  EXPECT_EQ(code(kStork, 2, 1), 9);
  EXPECT_EQ(code(kStork, 2, 2), -1);
  EXPECT_EQ(code(kCrane, 0, 1), 1);
  EXPECT_EQ(code(kCrane, 0, 2), -1);
  EXPECT_EQ(code(kCrane, 1, 0), 2);
  EXPECT_EQ(code(kCrane, 2, 0), -1);
  for (int32_t type : {kHeron, kEgret, kStork, kCrane, kTern}) {
    EXPECT_EQ(code(type, -1, 0), -1);
    EXPECT_EQ(code(type, 3, 0), -1);
    EXPECT_EQ(code(type, 0, -1), -1);
  }
  EXPECT_EQ(code(5, 0, 0), -1);
}

}  // namespace
}  // namespace lxvideo
