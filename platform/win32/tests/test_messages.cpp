// Thread message queues: posting, peeking with and without removal, filters,
// and the queue's life with its thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Drains whatever an earlier case left in the calling thread's queue.
void drain() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace

TEST(Messages, PostingNeedsAQueue) {
  std::atomic<DWORD> id{0};
  std::atomic<bool> peeked{false};
  std::atomic<bool> posted{false};
  std::atomic<UINT> received{0};
  std::thread worker([&] {
    id = GetCurrentThreadId();
    while (!posted) Sleep(1);  // no queue yet: the first post fails
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
    peeked = true;
    for (int i = 0; i < 5000; ++i) {
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        received = msg.message;
        break;
      }
      Sleep(1);
    }
  });
  while (id == 0) Sleep(1);
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER + 1, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  posted = true;
  for (int i = 0; i < 5000 && !peeked; ++i) Sleep(1);
  ASSERT_TRUE(peeked);
  EXPECT_TRUE(PostThreadMessageA(id, WM_USER + 2, 0, 0));
  worker.join();
  EXPECT_EQ(received.load(), WM_USER + 2);
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER + 3, 0, 0)) << "the queue ended with its thread";
}

TEST(Messages, PeekKeepsOrRemovesInPostingOrder) {
  MSG msg{};
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  drain();
  const DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 11, -1));
  ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 2, 22, -2));

  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "PM_NOREMOVE leaves it queued";
  EXPECT_EQ(msg.message, WM_USER + 1);

  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(msg.wParam, 11u);
  EXPECT_EQ(msg.lParam, -1);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 2);
  EXPECT_EQ(msg.wParam, 22u);
  EXPECT_EQ(msg.lParam, -2);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
}

TEST(Messages, FiltersSelectByNumberAndWindow) {
  MSG msg{};
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  drain();
  const DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 5, 0, 0));
  ASSERT_TRUE(PostThreadMessageA(self, WM_APP + 1, 0, 0));

  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_APP + 1) << "skips the older message outside the range";
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&msg, reinterpret_cast<HWND>(intptr_t{0x1234}), 0, 0, PM_REMOVE))
      << "no window owns a thread message";
  ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(intptr_t{-1}), 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 5);
  EXPECT_FALSE(TranslateMessage(&msg));
  EXPECT_EQ(DispatchMessageA(&msg), 0);
}
