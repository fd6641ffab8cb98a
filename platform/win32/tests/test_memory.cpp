// Global memory: handle values, truncation, stale handles, lock counts, sizes.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {
HGLOBAL truncated(HGLOBAL h) { return (HGLOBAL)(uintptr_t)(uint32_t)(uintptr_t)h; }
HGLOBAL signExtended(HGLOBAL h) { return (HGLOBAL)(intptr_t)(int32_t)(uint32_t)(uintptr_t)h; }

bool reservedValue(HGLOBAL h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  return v <= 4 || v == 0xFFFFFFFFu;
}
}  // namespace

TEST(GlobalMemoryHandles, MoveableValuesFit32BitsAndAreNeverReserved) {
  std::vector<HGLOBAL> handles;
  std::set<uintptr_t> seen;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2000; ++i) {
      HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
      ASSERT_NE(nullptr, h);
      uintptr_t v = reinterpret_cast<uintptr_t>(h);
      EXPECT_FALSE(reservedValue(h)) << std::hex << v;
      EXPECT_EQ(v, v & 0xFFFFFFFFu);
      EXPECT_TRUE(seen.insert(v).second) << "value handed out twice: " << std::hex << v;
      handles.push_back(h);
    }
    for (HGLOBAL h : handles) EXPECT_EQ(nullptr, GlobalFree(h));
    handles.clear();
  }
}

TEST(GlobalMemoryHandles, SurviveTruncationTo32Bits) {
  HGLOBAL h = GlobalAlloc(GHND, 64);
  ASSERT_NE(nullptr, h);
  uint32_t stored = (uint32_t)(uintptr_t)h;
  void* p = GlobalLock((HGLOBAL)(uintptr_t)stored);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(p, GlobalLock(truncated(h)));
  EXPECT_EQ(p, GlobalLock(signExtended(h)));
  EXPECT_EQ(3u, GlobalFlags(h));
  EXPECT_TRUE(GlobalUnlock(truncated(h)));
  EXPECT_TRUE(GlobalUnlock(h));
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(nullptr, GlobalFree((HGLOBAL)(uintptr_t)stored));
}

TEST(GlobalMemoryHandles, StaleHandleLocksToNullEvenAfterReallocation) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 32);
  ASSERT_NE(nullptr, h);
  ASSERT_NE(nullptr, GlobalLock(h));
  EXPECT_EQ(nullptr, GlobalFree(h));  // freed while locked, as Windows allows

  SetLastError(0);
  EXPECT_EQ(nullptr, GlobalLock(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

  // Many allocations and frees later the stale value still does not lock.
  std::vector<HGLOBAL> live;
  for (int i = 0; i < 5000; ++i) {
    HGLOBAL n = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(nullptr, n);
    EXPECT_NE(h, n);
    if (i % 2) live.push_back(n); else GlobalFree(n);
  }
  EXPECT_EQ(nullptr, GlobalLock(h));
  EXPECT_EQ(nullptr, GlobalLock(truncated(h)));
  EXPECT_EQ(GMEM_INVALID_HANDLE, GlobalFlags(h));
  EXPECT_EQ(0u, GlobalSize(h));
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_EQ(h, GlobalFree(h));  // a second free fails and returns the handle
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  for (HGLOBAL n : live) EXPECT_EQ(nullptr, GlobalFree(n));
}

TEST(GlobalMemoryHandles, ForeignValuesAreInvalid) {
  int local = 0;
  for (uintptr_t v : {uintptr_t{1}, uintptr_t{2}, uintptr_t{3}, uintptr_t{4}, uintptr_t{0x12345678},
                      uintptr_t{0xFFFFFFFF}, reinterpret_cast<uintptr_t>(&local)}) {
    HGLOBAL h = reinterpret_cast<HGLOBAL>(v);
    SetLastError(0);
    EXPECT_EQ(nullptr, GlobalLock(h)) << v;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(GMEM_INVALID_HANDLE, GlobalFlags(h));
    EXPECT_EQ(h, GlobalFree(h));
  }
  EXPECT_EQ(nullptr, GlobalLock(nullptr));
  EXPECT_EQ(nullptr, GlobalFree(nullptr));
}

TEST(GlobalMemoryLocks, LockCountInGlobalFlags) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 100);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(0u, GlobalFlags(h));
  void* p = GlobalLock(h);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1u, GlobalFlags(h) & GMEM_LOCKCOUNT);
  EXPECT_EQ(p, GlobalLock(h));
  EXPECT_EQ(2u, GlobalFlags(h));
  EXPECT_TRUE(GlobalUnlock(h));  // still locked
  EXPECT_EQ(1u, GlobalFlags(h));
  SetLastError(1234);
  EXPECT_FALSE(GlobalUnlock(h));  // now unlocked
  EXPECT_EQ(static_cast<DWORD>(NO_ERROR), GetLastError());
  EXPECT_EQ(0u, GlobalFlags(h));
  EXPECT_FALSE(GlobalUnlock(h));  // was not locked
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_LOCKED), GetLastError());
  EXPECT_EQ(nullptr, GlobalFree(h));
}

TEST(GlobalMemoryLocks, LockCountSaturatesAt255) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  for (int i = 0; i < 300; ++i) ASSERT_NE(nullptr, GlobalLock(h));
  EXPECT_EQ(255u, GlobalFlags(h));
  EXPECT_TRUE(GlobalUnlock(h));
  EXPECT_EQ(255u, GlobalFlags(h));
  EXPECT_EQ(nullptr, GlobalFree(h));
}

TEST(GlobalMemoryContents, ZeroInitAndSize) {
  for (UINT flags : {UINT(GHND), UINT(GPTR)}) {
    HGLOBAL h = GlobalAlloc(flags, 4096);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(4096u, GlobalSize(h));
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(nullptr, p);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(0, p[i]) << i;
    std::memset(p, 0xAB, 4096);
    GlobalUnlock(h);
    EXPECT_EQ(nullptr, GlobalFree(h));
  }
  HGLOBAL odd = GlobalAlloc(GMEM_MOVEABLE, 12345);
  EXPECT_EQ(12345u, GlobalSize(odd));
  GlobalFree(odd);
}

TEST(GlobalMemoryContents, MoveableBlockKeepsItsContents) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
  std::strcpy(static_cast<char*>(GlobalLock(h)), "hello");
  GlobalUnlock(h);
  EXPECT_STREQ("hello", static_cast<char*>(GlobalLock(h)));
  GlobalUnlock(h);
  GlobalFree(h);
}

TEST(GlobalMemoryFixed, FixedBlockIsItsPointer) {
  HGLOBAL h = GlobalAlloc(GMEM_FIXED, 24);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(static_cast<void*>(h), GlobalLock(h));
  EXPECT_EQ(0u, GlobalFlags(h));
  EXPECT_EQ(24u, GlobalSize(h));
  EXPECT_TRUE(GlobalUnlock(h));
  EXPECT_EQ(nullptr, GlobalFree(h));
  EXPECT_EQ(GMEM_INVALID_HANDLE, GlobalFlags(h));
}

TEST(GlobalMemoryFixed, MoveableSizeZeroIsDiscarded) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(nullptr, GlobalLock(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISCARDED), GetLastError());
  EXPECT_EQ(GMEM_DISCARDED, GlobalFlags(h));
  EXPECT_EQ(0u, GlobalSize(h));
  EXPECT_EQ(nullptr, GlobalFree(h));
}

TEST(GlobalMemoryThreads, ConcurrentAllocLockFree) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        HGLOBAL h = GlobalAlloc(GHND, 8);
        auto* p = static_cast<int*>(GlobalLock(truncated(h)));
        if (p == nullptr || *p != 0) { ++failures; continue; }
        *p = t * 100000 + i;
        GlobalUnlock(h);
        if (*static_cast<int*>(GlobalLock(h)) != t * 100000 + i) ++failures;
        GlobalUnlock(h);
        if (GlobalFree(h) != nullptr) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
}
