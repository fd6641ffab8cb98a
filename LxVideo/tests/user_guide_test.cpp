// The user guide's checked tables against the code's own tables: the input
// codes of every card type, the TernCard's multiplexer routes, the frame
// sizes and the status codes. A mismatch names the guide's row.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "card_type_rules.h"
#include "frame_layout.h"
#include "lx/card_type.h"
#include "lx/devmm.h"
#include "lx/status.h"
#include "lx/video_types.h"
#include "video_programming.h"

namespace {

using terncard::InputRoute;
using terncard::routeOfInput;
using Row = std::vector<std::string>;

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" `");
  const size_t last = text.find_last_not_of(" `");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The body rows of the first table after the line `heading`.
std::vector<Row> tableAfter(const std::string& heading) {
  std::ifstream guide(LX_USER_GUIDE);
  EXPECT_TRUE(guide) << LX_USER_GUIDE;
  std::string line;
  while (std::getline(guide, line) && line != heading) {
  }
  EXPECT_EQ(line, heading) << "heading missing from the guide";
  std::vector<Row> rows;
  bool inTable = false;
  int lineInTable = 0;
  while (std::getline(guide, line)) {
    if (line.rfind("|", 0) != 0) {
      if (inTable) break;
      continue;
    }
    inTable = true;
    if (++lineInTable <= 2) continue;  // header and separator
    Row row;
    std::stringstream cells(line.substr(1));
    std::string cell;
    while (std::getline(cells, cell, '|')) row.push_back(trim(cell));
    rows.push_back(row);
  }
  EXPECT_FALSE(rows.empty()) << heading;
  return rows;
}

std::vector<int> numbersIn(const std::string& cell) {
  std::vector<int> numbers;
  if (cell == "none") return numbers;
  std::stringstream list(cell);
  std::string item;
  while (std::getline(list, item, ',')) numbers.push_back(std::stoi(item));
  return numbers;
}

TEST(UserGuide, InputCodesOfEveryCardType) {
  const std::map<std::string, int32_t> types{{"Heron", LX_CARD_TYPE_HERON}, {"Egret", LX_CARD_TYPE_EGRET},
                                             {"Stork", LX_CARD_TYPE_STORK}, {"Crane", LX_CARD_TYPE_CRANE},
                                             {"TernCard", LX_CARD_TYPE_TERNCARD}};
  const auto rows = tableAfter("### Inputs per card type (checked)");
  ASSERT_EQ(rows.size(), types.size()) << "one row per card type";
  for (const Row& row : rows) {
    ASSERT_EQ(row.size(), 4u);
    ASSERT_TRUE(types.count(row[0])) << row[0];
    const int32_t type = types.at(row[0]);
    for (int32_t kind = 0; kind < 3; ++kind) {
      const std::vector<int> codes = numbersIn(row[1 + kind]);
      int32_t number = 0;
      for (; number < static_cast<int32_t>(codes.size()); ++number) {
        uint8_t code = 0xEE;
        ASSERT_TRUE(lxvideo::videoSourceCode(type, LxVideoSource{kind, number}, &code))
            << row[0] << " kind " << kind << " number " << number;
        EXPECT_EQ(code, codes[number]) << row[0] << " kind " << kind << " number " << number;
      }
      uint8_t code = 0xEE;
      EXPECT_FALSE(lxvideo::videoSourceCode(type, LxVideoSource{kind, number}, &code))
          << row[0] << " kind " << kind << " has more inputs than the guide lists";
    }
  }
}

std::string routeCell(uint8_t code, bool signature) {
  InputRoute route{};
  if (!routeOfInput(code, signature, &route)) return "none";
  return std::to_string(route.multiplexer) + (route.separateChroma ? " + chroma" : "");
}

TEST(UserGuide, TernCardMultiplexerOfEveryInputCode) {
  const auto rows = tableAfter("### TernCard inputs on the machine (checked)");
  ASSERT_EQ(rows.size(), 6u) << "codes 0 to 5";
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 3u);
    EXPECT_EQ(rows[i][0], std::to_string(i));
    EXPECT_EQ(rows[i][1], routeCell(static_cast<uint8_t>(i), true)) << "code " << i << ", board with signature";
    EXPECT_EQ(rows[i][2], routeCell(static_cast<uint8_t>(i), false)) << "code " << i << ", board without signature";
  }
  // The last row is the first code no board has.
  EXPECT_EQ(routeCell(static_cast<uint8_t>(rows.size() - 1), false), "none");
}

TEST(UserGuide, FrameSizes) {
  const std::map<std::string, int32_t> formats{
      {"LX_VIDEO_FORMAT_YUV422", LX_VIDEO_FORMAT_YUV422},   {"LX_VIDEO_FORMAT_RGB888", LX_VIDEO_FORMAT_RGB888},
      {"LX_VIDEO_FORMAT_RGB565", LX_VIDEO_FORMAT_RGB565},   {"LX_VIDEO_FORMAT_RGB555", LX_VIDEO_FORMAT_RGB555},
      {"LX_VIDEO_FORMAT_RGB8888", LX_VIDEO_FORMAT_RGB8888}, {"LX_VIDEO_FORMAT_GREY8_FULL", LX_VIDEO_FORMAT_GREY8_FULL},
      {"LX_VIDEO_FORMAT_GREY8_LIMITED", LX_VIDEO_FORMAT_GREY8_LIMITED}};
  const std::map<std::string, int32_t> modes{{"LX_SCAN_MODE_FRAME", LX_SCAN_MODE_FRAME},
                                             {"LX_SCAN_MODE_FIELD", LX_SCAN_MODE_FIELD},
                                             {"LX_SCAN_MODE_FIELD1", LX_SCAN_MODE_FIELD1}};
  const auto rows = tableAfter("### Frame sizes (checked)");
  std::map<int32_t, int> formatsSeen;
  for (const Row& row : rows) {
    ASSERT_EQ(row.size(), 7u);
    ASSERT_TRUE(formats.count(row[0])) << row[0];
    ASSERT_TRUE(modes.count(row[2])) << row[2];
    const int32_t format = formats.at(row[0]);
    const int32_t mode = modes.at(row[2]);
    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(row[3].c_str(), "%d x %d", &width, &height), 2) << row[3];
    const int32_t bytesPerPixel = LxBytesPerPixel(format);
    const int32_t fieldLines = lxvideo::fieldLinesOf(height);
    EXPECT_EQ(std::stoll(row[1]), bytesPerPixel) << row[0];
    EXPECT_EQ(std::stoull(row[4]), lxvideo::storedRows(mode, fieldLines)) << row[0] << " " << row[3];
    EXPECT_EQ(std::stoll(row[5]), int64_t{width} * bytesPerPixel) << row[0] << " " << row[3];
    EXPECT_EQ(std::stoull(row[6]), lxvideo::frameBytes(mode, width, fieldLines, bytesPerPixel))
        << row[0] << " " << row[3];
    ++formatsSeen[format];
  }
  EXPECT_EQ(formatsSeen.size(), formats.size()) << "every format has a row";
}

TEST(UserGuide, EveryStatusCodeWithItsNameAndValue) {
  const auto rows = tableAfter("## Status codes (checked)");
  ASSERT_EQ(rows.size(), static_cast<size_t>(LX_STATUS_COUNT));
  for (size_t i = 0; i < rows.size(); ++i) {
    const int code = -static_cast<int>(i);
    ASSERT_EQ(rows[i].size(), 3u);
    EXPECT_EQ(rows[i][0], std::to_string(code));
    EXPECT_STREQ(rows[i][1].c_str(), LxDevGetErrorString(code)) << "code " << code;
    EXPECT_GT(rows[i][2].size(), 10u) << "code " << code << " has no description";
  }
}

}  // namespace
