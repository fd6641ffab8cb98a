// DirectDraw clippers on the program's own windows: the region data of a
// window's visible part, its limits (clip rectangle, screen, buffer size) and
// the change reports, on a private machine with a 1024 x 768 screen.
#include <gtest/gtest.h>
#include <windows.h>
#include <ddraw.h>

#include <QWidget>

#include <memory>
#include <vector>

#include "lxqt/bridge.h"
#include "machine_first.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

// Found by argument lookup for the global RECT.
bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void PrintTo(const RECT& r, std::ostream* out) {
  *out << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}

namespace {

std::unique_ptr<QWidget> shownWindow(int x, int y, int width, int height) {
  auto window = std::make_unique<QWidget>();
  window->setGeometry(x, y, width, height);
  window->show();
  lxqt::pumpMessages(20);
  return window;
}

RECT rect(LONG l, LONG t, LONG r, LONG b) { return RECT{l, t, r, b}; }

struct ClipList {
  RGNDATAHEADER header{};
  std::vector<RECT> rects;
};

class Clippers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DirectDrawCreate(nullptr, &draw_, nullptr), DD_OK);
    ASSERT_EQ(draw_->CreateClipper(0, &clipper_, nullptr), DD_OK);
  }
  void TearDown() override {
    if (clipper_ != nullptr) clipper_->Release();
    if (draw_ != nullptr) draw_->Release();
  }

  // The clip list as a caller reads it: the size, then the data.
  ClipList read(RECT* clip = nullptr) {
    DWORD size = 0;
    EXPECT_EQ(clipper_->GetClipList(clip, nullptr, &size), DD_OK);
    std::vector<uint8_t> buffer(size);
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    EXPECT_EQ(clipper_->GetClipList(clip, data, &size), DD_OK);
    ClipList list;
    std::memcpy(&list.header, buffer.data(), sizeof list.header);
    EXPECT_EQ(size, sizeof(RGNDATAHEADER) + list.header.nCount * sizeof(RECT));
    list.rects.resize(list.header.nCount);
    if (!list.rects.empty()) std::memcpy(list.rects.data(), buffer.data() + sizeof(RGNDATAHEADER), list.header.nCount * sizeof(RECT));
    return list;
  }

  bool changed() {
    BOOL result = -1;
    EXPECT_EQ(clipper_->IsClipListChanged(&result), DD_OK);
    return result != FALSE;
  }

  IDirectDraw* draw_ = nullptr;
  IDirectDrawClipper* clipper_ = nullptr;
};

TEST_F(Clippers, AWholeWindowIsOneRectangleInScreenCoordinates) {
  auto view = shownWindow(100, 120, 640, 480);
  DWORD size = 0;
  EXPECT_EQ(clipper_->GetClipList(nullptr, nullptr, &size), DDERR_NOCLIPLIST) << "no window bound yet";
  ASSERT_EQ(clipper_->SetHWnd(0, lxqt::hwndOf(view.get())), DD_OK);
  HWND bound = nullptr;
  ASSERT_EQ(clipper_->GetHWnd(&bound), DD_OK);
  EXPECT_EQ(bound, lxqt::hwndOf(view.get()));

  ASSERT_EQ(clipper_->GetClipList(nullptr, nullptr, &size), DD_OK);
  EXPECT_EQ(size, 48u);
  const ClipList list = read();
  EXPECT_EQ(list.header.dwSize, 32u);
  EXPECT_EQ(list.header.iType, static_cast<DWORD>(RDH_RECTANGLES));
  EXPECT_EQ(list.header.nCount, 1u);
  EXPECT_EQ(list.header.nRgnSize, 16u);
  EXPECT_EQ(list.header.rcBound, rect(100, 120, 740, 600));
  ASSERT_EQ(list.rects.size(), 1u);
  EXPECT_EQ(list.rects[0], rect(100, 120, 740, 600));

  // Limited to a clip rectangle, as the monitor asks for its output window.
  RECT clip = rect(150, 130, 150 + 639, 130 + 479);
  const ClipList limited = read(&clip);
  ASSERT_EQ(limited.rects.size(), 1u);
  EXPECT_EQ(limited.rects[0], rect(150, 130, 740, 600));
}

TEST_F(Clippers, ACoveringWindowIsCutOutAndASmallBufferIsRefused) {
  auto view = shownWindow(100, 100, 640, 480);
  auto cover = shownWindow(500, 300, 400, 100);  // shown later: on top
  RECT coverFrame{};
  ASSERT_TRUE(GetWindowRect(lxqt::hwndOf(cover.get()), &coverFrame));
  ASSERT_EQ(clipper_->SetHWnd(0, lxqt::hwndOf(view.get())), DD_OK);

  const ClipList list = read();
  ASSERT_EQ(list.rects.size(), 3u);
  EXPECT_EQ(list.rects[0], rect(100, 100, 740, coverFrame.top));
  EXPECT_EQ(list.rects[1], rect(100, coverFrame.top, coverFrame.left, coverFrame.bottom));
  EXPECT_EQ(list.rects[2], rect(100, coverFrame.bottom, 740, 580));
  EXPECT_EQ(list.header.rcBound, rect(100, 100, 740, 580));

  std::vector<uint8_t> small(48, 0xEE);
  DWORD size = 48;
  EXPECT_EQ(clipper_->GetClipList(nullptr, reinterpret_cast<RGNDATA*>(small.data()), &size), DDERR_REGIONTOOSMALL);
  EXPECT_EQ(size, 32u + 3 * 16);
  EXPECT_EQ(small, std::vector<uint8_t>(48, 0xEE)) << "nothing written";

  // Raised above the cover, the view is whole again.
  view->raise();
  lxqt::pumpMessages(20);
  const ClipList raised = read();
  ASSERT_EQ(raised.rects.size(), 1u);
  EXPECT_EQ(raised.rects[0], rect(100, 100, 740, 580));
}

TEST_F(Clippers, ChangesOfPlaceSizeStackingAndVisibilityAreReported) {
  auto view = shownWindow(100, 100, 300, 200);
  auto other = shownWindow(600, 100, 100, 100);
  ASSERT_EQ(clipper_->SetHWnd(0, lxqt::hwndOf(view.get())), DD_OK);
  EXPECT_TRUE(changed()) << "nothing read yet";
  read();
  EXPECT_FALSE(changed());

  other->move(350, 150);  // over the view's right part
  lxqt::pumpMessages(20);
  EXPECT_TRUE(changed());
  read();
  EXPECT_FALSE(changed());

  view->raise();
  lxqt::pumpMessages(20);
  EXPECT_TRUE(changed());
  read();
  view->resize(320, 200);
  lxqt::pumpMessages(20);
  EXPECT_TRUE(changed());
  read();
  view->hide();
  lxqt::pumpMessages(20);
  EXPECT_TRUE(changed());
  EXPECT_TRUE(read().rects.empty()) << "a hidden window shows nothing";
}

TEST_F(Clippers, TheScreenEdgeAndADestroyedWindowLimitTheList) {
  auto view = shownWindow(900, 700, 300, 200);  // runs past the 1024 x 768 screen
  ASSERT_EQ(clipper_->SetHWnd(0, lxqt::hwndOf(view.get())), DD_OK);
  const ClipList list = read();
  ASSERT_EQ(list.rects.size(), 1u);
  EXPECT_EQ(list.rects[0], rect(900, 700, 1024, 768));

  view.reset();
  lxqt::pumpMessages(10);
  EXPECT_TRUE(changed());
  const ClipList gone = read();
  EXPECT_EQ(gone.header.nCount, 0u);
  EXPECT_EQ(gone.header.dwSize, 32u);
}

}  // namespace
