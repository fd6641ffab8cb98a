// The position constraint, the view's scroll ranges and steps, and the
// series name rules.
#include <gtest/gtest.h>

#include "democommon/geometry.h"
#include "democommon/video_formats.h"

namespace {

using demo::Borders;
using demo::FrameGeometry;
using demo::ScrollCode;
using demo::WindowShow;

constexpr Borders kBorders{4, 50, 4, 4};

FrameGeometry constrained(FrameGeometry g, WindowShow show = WindowShow::Normal, int standard = 0, int scan = 0) {
  int skip = 0;
  demo::constrainFrame(&g, show, kBorders, 1024, 768, standard, scan, &skip);
  return g;
}

TEST(PositionConstraint, ClientAreaStartsOnAColumnOfFourAndAnEvenRow) {
  // Client at column 6 moves to 8; at row 51 to 52.
  FrameGeometry g = constrained({2, 1, 408, 354});
  EXPECT_EQ(g.x + kBorders.left, 8);
  EXPECT_EQ(g.y + kBorders.top, 52);
  EXPECT_EQ(g.width - 8, 400);
  EXPECT_EQ(g.height - 54, 300);

  // Odd client sizes lose their last column bits and row.
  g = constrained({100, 100, 8 + 403, 54 + 301});
  EXPECT_EQ(g.width - 8, 400);
  EXPECT_EQ(g.height - 54, 300);
}

TEST(PositionConstraint, StaysOnTheScreenAndWithinOneFrameOrField) {
  FrameGeometry g = constrained({-50, -80, 200, 200});
  EXPECT_EQ(g.x, -4);
  EXPECT_EQ(g.y, -50);
  g = constrained({1000, 700, 200, 200});
  EXPECT_EQ(g.x, 1024 - 200 + 4);
  EXPECT_EQ(g.y, 768 - 200 + 4);
  EXPECT_EQ(constrained({0, 0, 2000, 2000}).width, 8 + 768);
  EXPECT_EQ(constrained({0, 0, 2000, 2000}).height, 54 + 576);
  EXPECT_EQ(constrained({0, 0, 2000, 2000}, WindowShow::Normal, 1).height, 54 + 480);
  EXPECT_EQ(constrained({0, 0, 2000, 2000}, WindowShow::Normal, 0, 1).height, 54 + 288);
}

TEST(PositionConstraint, MaximisingGivesOneFrameAndMinimisingSkipsTheNextChange) {
  FrameGeometry g = constrained({0, 0, 1024, 768}, WindowShow::Maximised, 1);
  EXPECT_EQ(g.width, 8 + 640);
  EXPECT_EQ(g.height, 54 + 480);
  g = constrained({0, 0, 1024, 768}, WindowShow::Maximised, 0, 2);
  EXPECT_EQ(g.height, 54 + 288);

  int skip = 0;
  FrameGeometry minimised{3, 3, 100, 100};
  demo::constrainFrame(&minimised, WindowShow::Minimised, kBorders, 1024, 768, 0, 0, &skip);
  EXPECT_EQ(skip, 1);
  EXPECT_EQ(minimised.x, 3) << "a minimised frame is left alone";
  FrameGeometry restored{3, 3, 101, 101};
  demo::constrainFrame(&restored, WindowShow::Normal, kBorders, 1024, 768, 0, 0, &skip);
  EXPECT_EQ(skip, 0);
  EXPECT_EQ(restored.x, 3) << "the first change after the restore is untouched";
  EXPECT_EQ(restored.width, 101);
  demo::constrainFrame(&restored, WindowShow::Normal, kBorders, 1024, 768, 0, 0, &skip);
  EXPECT_EQ(restored.x + kBorders.left, 8);
}

TEST(ViewScrolling, RangesStepsAndThumbRounding) {
  EXPECT_EQ(demo::horizontalScrollMax(0, 400), 368);
  EXPECT_EQ(demo::horizontalScrollMax(1, 640), 0) << "a full-width client area disables the bar";
  EXPECT_EQ(demo::verticalScrollMax(0, 0, 300), 276);
  EXPECT_EQ(demo::verticalScrollMax(1, 1, 200), 80) << "a field is half the picture";

  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::LineUp, true, 2, 0, 368, 4, 0), 0);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::LineDown, true, 8, 0, 368, 4, 0), 12);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::LineDown, false, 275, 0, 276, 2, 0), 276);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::PageDown, false, 10, 0, 276, 2, 0), 12);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::ThumbPosition, true, 0, 0, 368, 4, 103), 100);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::ThumbPosition, false, 0, 0, 276, 2, 103), 102);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::ThumbTrack, true, 40, 0, 368, 4, 103), 40);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::Bottom, true, 40, 0, 368, 4, 0), 368);
  EXPECT_EQ(demo::viewScrollOrigin(ScrollCode::Top, true, 40, 0, 368, 4, 0), 0);
}

TEST(DialogScrolling, StepsStayWithinTheRange) {
  EXPECT_EQ(demo::dialogScrollPosition(ScrollCode::LineUp, 0, 0, 255, 0), 0);
  EXPECT_EQ(demo::dialogScrollPosition(ScrollCode::PageDown, 250, 0, 255, 0), 255);
  EXPECT_EQ(demo::dialogScrollPosition(ScrollCode::PageUp, 128, -128, 128, 0), 118);
  EXPECT_EQ(demo::dialogScrollPosition(ScrollCode::ThumbTrack, 5, 0, 255, 200), 200);
  EXPECT_EQ(demo::dialogScrollPosition(ScrollCode::EndScroll, 5, 0, 255, 200), 5);
}

TEST(SeriesNames, CharacterSetTrimAndNumbering) {
  EXPECT_EQ(demo::trimBitmapSuffix("/seq/shot.bmp"), "/seq/shot");
  EXPECT_EQ(demo::trimBitmapSuffix("/seq/clamp.bmp"), "/seq/cla");
  EXPECT_EQ(demo::seriesBaseOf("/seq/shot1.bmp"), "/seq/shot");
  EXPECT_EQ(demo::seriesBaseOf("/seq/shot11.bmp"), "/seq/shot");
  EXPECT_EQ(demo::seriesBaseOf("/seq/shot10.bmp"), "/seq/shot1");
  EXPECT_EQ(demo::seriesFileName("/d/run", 3), "/d/run3.bmp");
}

TEST(VideoFormats, DepthsBitsAndFlatInputs) {
  EXPECT_EQ(demo::formatForDepth(8), 6);
  EXPECT_EQ(demo::formatForDepth(32), 4);
  EXPECT_EQ(demo::formatForDepth(12), -1);
  EXPECT_EQ(demo::bitsPerPixel(3), 15);
  EXPECT_EQ(demo::bitsPerPixel(7), 0);
  int kind = -1, number = -1;
  ASSERT_TRUE(demo::sourceOfFlat(7, &kind, &number));
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(number, 1);
  ASSERT_TRUE(demo::sourceOfFlat(10, &kind, &number));
  EXPECT_EQ(kind, 2);
  EXPECT_EQ(number, 1);
  EXPECT_FALSE(demo::sourceOfFlat(11, &kind, &number));
  EXPECT_EQ(demo::flatOfSource(2, 0), 9);
  EXPECT_EQ(demo::flatOfSource(3, 0), -1);
}

}  // namespace

#include "democommon/os_info.h"

namespace {

OSVERSIONINFOEXA versionOf(DWORD major, DWORD minor, DWORD platform, BYTE product) {
  OSVERSIONINFOEXA v{};
  v.dwOSVersionInfoSize = sizeof v;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  v.dwPlatformId = platform;
  v.wProductType = product;
  return v;
}

TEST(OperatingSystemCode, ByVersionPlatformAndProductType) {
  using demo::COperateSystemInfo;
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(4, 0, 2, 1)), 0);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(4, 0, 1, 1)), 1);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(4, 0, 0, 1)), -1);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(4, 10, 1, 1)), 2);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(4, 90, 1, 1)), 3);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(5, 1, 2, 1)), 5);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(6, 1, 2, VER_NT_WORKSTATION)), 7) << "no live capture";
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(6, 2, 2, VER_NT_WORKSTATION)), 8);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(6, 1, 2, VER_NT_SERVER)), -1);
  EXPECT_EQ(COperateSystemInfo::osCodeOf(versionOf(10, 0, 2, VER_NT_WORKSTATION)), -1);
}

}  // namespace
