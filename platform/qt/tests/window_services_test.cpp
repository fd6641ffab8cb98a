// Window handles, geometry, repainting, timers and the message pump through
// the compat layer's Win32 calls, answered by Qt widgets.
#include <gtest/gtest.h>
#include <windows.h>

#include <QPaintEvent>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "lxqt/bridge.h"

namespace {

// Shows a top-level widget at a screen position and lets Qt settle it.
std::unique_ptr<QWidget> shownWindow(int x, int y, int width, int height) {
  auto window = std::make_unique<QWidget>();
  window->setGeometry(x, y, width, height);
  window->show();
  lxqt::pumpMessages(20);
  return window;
}

class CountingWidget : public QWidget {
 public:
  using QWidget::QWidget;
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

struct TimerCall {
  HWND window;
  UINT message;
  UINT_PTR id;
  DWORD thread;
};
std::vector<TimerCall> timerCalls;

void recordTimer(HWND window, UINT message, UINT_PTR id, DWORD) {
  timerCalls.push_back({window, message, id, GetCurrentThreadId()});
}

}  // namespace

TEST(WindowHandles, AWidgetKeepsOneHandleUntilItIsDestroyed) {
  auto widget = std::make_unique<QWidget>();
  const HWND handle = lxqt::hwndOf(widget.get());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(lxqt::hwndOf(widget.get()), handle);
  EXPECT_EQ(lxqt::widgetOf(handle), widget.get());
  EXPECT_TRUE(IsWindow(handle));
  auto other = std::make_unique<QWidget>();
  EXPECT_NE(lxqt::hwndOf(other.get()), handle);

  widget.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(lxqt::widgetOf(handle), nullptr);
  RECT rect{1, 2, 3, 4};
  SetLastError(0);
  EXPECT_FALSE(GetWindowRect(handle, &rect));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(SetTimer(handle, 5, 10, recordTimer), 0u);
  EXPECT_FALSE(IsWindow(nullptr));
}

TEST(WindowGeometry, RectanglesFollowMovesAndVisibility) {
  auto top = shownWindow(100, 50, 300, 200);
  auto* child = new QWidget(top.get());
  child->setGeometry(10, 20, 50, 40);
  child->show();
  const HWND topHandle = lxqt::hwndOf(top.get());
  const HWND childHandle = lxqt::hwndOf(child);

  // The outer rectangle holds the frame around the 300 x 200 client area.
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(topHandle, &rect));
  const QMargins frame(100 - rect.left, 50 - rect.top, rect.right - 400, rect.bottom - 250);
  EXPECT_GE(frame.left(), 0);
  EXPECT_EQ(frame.left(), frame.right());
  EXPECT_GE(frame.top(), frame.left()) << "a title bar is no thinner than the sides";
  POINT origin{0, 0};
  ASSERT_TRUE(ClientToScreen(topHandle, &origin));
  EXPECT_EQ(origin.x, 100);
  EXPECT_EQ(origin.y, 50);
  ASSERT_TRUE(GetClientRect(childHandle, &rect));
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 50);
  EXPECT_EQ(rect.bottom, 40);
  POINT point{5, 7};
  ASSERT_TRUE(ClientToScreen(childHandle, &point));
  EXPECT_EQ(point.x, 115);
  EXPECT_EQ(point.y, 77);
  EXPECT_TRUE(IsWindowVisible(childHandle));

  top->setGeometry(200, 60, 300, 200);
  lxqt::pumpMessages(20);
  point = POINT{0, 0};
  ASSERT_TRUE(ClientToScreen(childHandle, &point));
  EXPECT_EQ(point.x, 210);
  EXPECT_EQ(point.y, 80);
  ASSERT_TRUE(GetWindowRect(childHandle, &rect));
  EXPECT_EQ(rect.left, 210);
  EXPECT_EQ(rect.bottom, 120);

  top->hide();
  lxqt::pumpMessages(10);
  EXPECT_FALSE(IsWindowVisible(childHandle)) << "hidden with its top-level window";
  EXPECT_FALSE(GetClientRect(childHandle, nullptr));
}

TEST(WindowTimers, ProceduresRunOnTheWindowThreadUntilKilled) {
  auto top = shownWindow(0, 0, 100, 100);
  const HWND handle = lxqt::hwndOf(top.get());
  timerCalls.clear();
  ASSERT_EQ(SetTimer(handle, 970103, 0, recordTimer), 970103u);
  lxqt::pumpMessages(150);
  ASSERT_GE(timerCalls.size(), 3u) << "elapse 0 runs every 10 ms";
  for (const TimerCall& call : timerCalls) {
    EXPECT_EQ(call.window, handle);
    EXPECT_EQ(call.message, WM_TIMER);
    EXPECT_EQ(call.id, 970103u);
    EXPECT_EQ(call.thread, GetCurrentThreadId());
  }
  ASSERT_TRUE(KillTimer(handle, 970103));
  timerCalls.clear();
  lxqt::pumpMessages(60);
  EXPECT_TRUE(timerCalls.empty());
  EXPECT_FALSE(KillTimer(handle, 970103)) << "already gone";

  // Another thread may not start the window's timers.
  std::atomic<UINT_PTR> fromOther{1};
  std::atomic<DWORD> error{0};
  std::thread([&] {
    fromOther = SetTimer(handle, 7, 10, recordTimer);
    error = GetLastError();
  }).join();
  EXPECT_EQ(fromOther.load(), 0u);
  EXPECT_EQ(error.load(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(WindowTimers, ADestroyedWindowsProcedureRunsOnceMoreWithTheDeadHandle) {
  auto top = shownWindow(0, 0, 100, 100);
  const HWND handle = lxqt::hwndOf(top.get());
  ASSERT_EQ(SetTimer(handle, 3, 1000, recordTimer), 3u);
  timerCalls.clear();
  static bool aliveAtLastCall = true;
  aliveAtLastCall = true;
  ASSERT_EQ(SetTimer(handle, 4, 1000, [](HWND window, UINT, UINT_PTR, DWORD) { aliveAtLastCall = IsWindow(window); }),
            4u);
  top.reset();
  ASSERT_EQ(timerCalls.size(), 1u);
  EXPECT_EQ(timerCalls[0].id, 3u);
  EXPECT_EQ(timerCalls[0].window, handle);
  EXPECT_FALSE(aliveAtLastCall);
  lxqt::pumpMessages(20);
  EXPECT_EQ(timerCalls.size(), 1u);
  EXPECT_FALSE(KillTimer(handle, 3));
}

TEST(WindowTimers, WithoutAProcedureTheLoopGetsTimerMessages) {
  auto top = shownWindow(0, 0, 100, 100);
  const HWND handle = lxqt::hwndOf(top.get());
  ASSERT_EQ(SetTimer(handle, 42, 10, nullptr), 42u);
  MSG msg{};
  const DWORD start = GetTickCount();
  bool got = false;
  while (!got && GetTickCount() - start < 2000) {
    got = PeekMessageA(&msg, handle, WM_TIMER, WM_TIMER, PM_REMOVE);
    if (!got) lxqt::pumpMessages(5);
  }
  KillTimer(handle, 42);
  ASSERT_TRUE(got);
  EXPECT_EQ(msg.hwnd, handle);
  EXPECT_EQ(msg.wParam, 42u);
}

TEST(MessagePump, WindowAndThreadMessagesArriveThroughGetMessage) {
  auto top = shownWindow(0, 0, 50, 50);
  const HWND handle = lxqt::hwndOf(top.get());
  MSG msg{};
  PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
  ASSERT_TRUE(PostMessageA(handle, WM_USER + 3, 9, 10));
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 4, 0, 0));
  EXPECT_FALSE(PeekMessageA(&msg, reinterpret_cast<HWND>(intptr_t{-1}), WM_USER + 3, WM_USER + 3, PM_NOREMOVE))
      << "a window message is not a thread message";
  ASSERT_EQ(GetMessageA(&msg, handle, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 3);
  EXPECT_EQ(msg.hwnd, handle);
  EXPECT_EQ(msg.lParam, 10);
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 4);
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t{0x999990}), WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(Redraw, RepaintsTheWindowsUnderAScreenRectangleNow) {
  auto left = std::make_unique<CountingWidget>();
  left->setGeometry(0, 0, 100, 100);
  left->show();
  auto right = std::make_unique<CountingWidget>();
  right->setGeometry(300, 0, 100, 100);
  right->show();
  lxqt::pumpMessages(30);
  const int leftBefore = left->paints, rightBefore = right->paints;

  const RECT area{20, 20, 60, 60};
  ASSERT_TRUE(RedrawWindow(nullptr, &area, nullptr, 0x785));
  EXPECT_EQ(left->paints, leftBefore + 1) << "painted before RedrawWindow returned";
  EXPECT_EQ(right->paints, rightBefore) << "not under the rectangle";

  ASSERT_TRUE(RedrawWindow(lxqt::hwndOf(right.get()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));
  EXPECT_EQ(right->paints, rightBefore + 1);
}
