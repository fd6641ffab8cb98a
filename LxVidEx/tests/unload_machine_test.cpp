// LxVidEx loaded by name: released with nothing open it unloads (and a new
// load starts from an empty manager); released while a card snaps it stays
// loaded under its threads until the snap-ex is closed.
#include <gtest/gtest.h>
#include <windows.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "lx/internal/card_record.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_first.h"
#include "snap_ex_test_support.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using snapextest::kWaitMs;
using snapextest::stateOf;
using snapextest::waitForThreads;
using snapextest::threadsOfProcess;


std::atomic<int> gCalls{0};

int32_t count(SnapExInfo*) {
  ++gCalls;
  return 0;
}

template <typename Function>
Function exportOf(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct SnapExLibrary {
  HMODULE module = LoadLibraryA("LxVidEx.dll");
  decltype(&LxOpenSnapEx) open = exportOf<decltype(&LxOpenSnapEx)>(module, "LxOpenSnapEx");
  decltype(&LxStartSnapEx) start = exportOf<decltype(&LxStartSnapEx)>(module, "LxStartSnapEx");
  decltype(&LxCloseSnapEx) close = exportOf<decltype(&LxCloseSnapEx)>(module, "LxCloseSnapEx");
  explicit operator bool() const { return module != nullptr && open && start && close; }
};

}  // namespace

bool waitForCalls(int calls) {
  for (int ms = 0; ms < kWaitMs && gCalls < calls; ++ms) {
    Sleep(1);
  }
  return gCalls >= calls;
}

TEST(SnapExUnload, LastReleaseUnloadsAndAnOpenSnapExKeepsItLoaded) {
  LxCardHandle card = nullptr;
  ASSERT_EQ(BeginLxCard(1, &card), LX_OK);
  ASSERT_EQ(LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  const int before = threadsOfProcess();
  {
    SnapExLibrary snapEx;
    ASSERT_TRUE(snapEx);
    ASSERT_EQ(snapEx.open(card, count, nullptr), LX_OK);
    ASSERT_EQ(snapEx.close(card), LX_OK);
    ASSERT_TRUE(FreeLibrary(snapEx.module));
  }
  EXPECT_EQ(GetModuleHandleA("LxVidEx.dll"), nullptr) << "the last release unloads it";

  {
    SnapExLibrary snapEx;
    ASSERT_TRUE(snapEx);
    EXPECT_EQ(snapEx.open(card, count, nullptr), LX_OK) << "a new load knows nothing of the card";
    ASSERT_EQ(snapEx.start(card, 0, 1, 4), LX_OK);
    ASSERT_TRUE(waitForCalls(5));
    ASSERT_TRUE(FreeLibrary(snapEx.module)) << "released with snap-ex open";
  }
  EXPECT_NE(GetModuleHandleA("LxVidEx.dll"), nullptr) << "its threads keep it loaded";
  const int calls = gCalls;
  EXPECT_TRUE(waitForCalls(calls + 5)) << "and go on calling back";
  EXPECT_EQ(stateOf(card), LX_CAPTURE_STATE_SNAP_EX);

  {
    SnapExLibrary snapEx;  // the same instance, still holding the slot
    ASSERT_TRUE(snapEx);
    EXPECT_EQ(snapEx.open(card, count, nullptr), LX_IN_WORK);
    EXPECT_EQ(snapEx.close(card), LX_OK);
    EXPECT_EQ(stateOf(card), LX_CAPTURE_STATE_IDLE);
    EXPECT_TRUE(FreeLibrary(snapEx.module));
  }
  EXPECT_EQ(GetModuleHandleA("LxVidEx.dll"), nullptr) << "closed, the last release unloads it";
  EXPECT_TRUE(waitForThreads(before));
  EXPECT_EQ(EndLxCard(card), LX_OK);
}

// Loaded from a path of the application's choosing (another file name, another
// folder), the library must still hold itself, not a copy found by its usual
// name, while its threads run.
TEST(SnapExUnload, ALibraryLoadedFromElsewhereHoldsItselfUnderItsThreads) {
  namespace fs = std::filesystem;
  const char* buildDir = std::getenv("LX_BUILD_DIR");
  ASSERT_NE(buildDir, nullptr);
  const fs::path dir = fs::temp_directory_path() / ("lxvidex-elsewhere-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path copy = dir / "libSnapExElsewhere.so";
  fs::copy_file(fs::path(buildDir) / "lib" / "libLxVidEx.so", copy, fs::copy_options::overwrite_existing);

  LxCardHandle card = nullptr;
  ASSERT_EQ(BeginLxCard(1, &card), LX_OK);
  ASSERT_EQ(LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  const int before = threadsOfProcess();
  HMODULE module = LoadLibraryA(copy.c_str());
  ASSERT_NE(module, nullptr);
  const auto open = exportOf<decltype(&LxOpenSnapEx)>(module, "LxOpenSnapEx");
  const auto start = exportOf<decltype(&LxStartSnapEx)>(module, "LxStartSnapEx");
  const auto close = exportOf<decltype(&LxCloseSnapEx)>(module, "LxCloseSnapEx");
  ASSERT_TRUE(open && start && close);
  ASSERT_EQ(open(card, count, nullptr), LX_OK);
  ASSERT_EQ(start(card, 0, 1, 4), LX_OK);
  ASSERT_TRUE(waitForCalls(gCalls + 3));
  ASSERT_TRUE(FreeLibrary(module)) << "released with snap-ex running";
  EXPECT_EQ(GetModuleHandleA("LxVidEx.dll"), nullptr) << "nothing loaded the library by its usual name";
  EXPECT_NE(GetModuleHandleA(copy.c_str()), nullptr) << "the threads hold the module they run in";
  EXPECT_TRUE(waitForCalls(gCalls + 5)) << "and go on calling back";

  // Loaded again, the same instance still holds the slot.
  HMODULE again = LoadLibraryA(copy.c_str());
  ASSERT_EQ(again, module);
  EXPECT_EQ(open(card, count, nullptr), LX_IN_WORK);
  EXPECT_EQ(close(card), LX_OK);
  EXPECT_EQ(stateOf(card), LX_CAPTURE_STATE_IDLE);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_EQ(GetModuleHandleA(copy.c_str()), nullptr) << "closed, the last release unloads it";
  EXPECT_TRUE(waitForThreads(before));
  EXPECT_EQ(EndLxCard(card), LX_OK);
  fs::remove_all(dir);
}
