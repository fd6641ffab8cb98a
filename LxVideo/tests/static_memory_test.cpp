// The public static-memory operations and the device manager's facade over
// the real service in a private machine: lock handles, fill, the size
// setting until the next start, the facade's cache and its failures.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "lx/devmm.h"
#include "lx/video.h"
#include "stack_machine.h"

namespace {

using hmbtest::StackMachine;

constexpr uint32_t kSeededBytes = 4096u * 4096u;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool serviceLoaded() { return GetModuleHandleA("Hmbseapi.dll") != nullptr; }

// The public API, loaded by name once the private machine runs: its attach
// already talks to the machine (the open-count map).
struct VideoLibrary {
  HMODULE module = LoadLibraryA("LxVideo.dll");
  template <typename Function>
  Function get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  }
  decltype(&LxGetStaticMem) getStaticMem = get<decltype(&LxGetStaticMem)>("LxGetStaticMem");
  decltype(&LxSetStaticMem) setStaticMem = get<decltype(&LxSetStaticMem)>("LxSetStaticMem");
  decltype(&LxFillStaticMem) fill = get<decltype(&LxFillStaticMem)>("LxFillStaticMem");
  decltype(&LxStaticMemLock) lock = get<decltype(&LxStaticMemLock)>("LxStaticMemLock");
  decltype(&LxStaticMemUnlock) unlock = get<decltype(&LxStaticMemUnlock)>("LxStaticMemUnlock");
};

// Holds "Hmbseapi.dll" loaded, as an open card's library does.
class HeldService {
 public:
  HeldService() : module_(LoadLibraryA("Hmbseapi.dll")) {}
  ~HeldService() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HeldService(const HeldService&) = delete;
  HeldService& operator=(const HeldService&) = delete;

 private:
  HMODULE module_;
};

class LxStaticMemory : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    machine_ = new StackMachine();
    ASSERT_TRUE(machine_->booted());
    video_ = new VideoLibrary;
    ASSERT_NE(video_->module, nullptr);
  }
  static void TearDownTestSuite() {
    FreeLibrary(video_->module);
    delete video_;
    delete machine_;
    machine_ = nullptr;
  }
  static StackMachine* machine_;
  static VideoLibrary* video_;
};
VideoLibrary* LxStaticMemory::video_ = nullptr;
StackMachine* LxStaticMemory::machine_ = nullptr;

// First in the suite: nothing has loaded the service library yet.
TEST_F(LxStaticMemory, WithoutAnOpenCardOnlyTheEmptyLockWorks) {
  ASSERT_FALSE(serviceLoaded());
  LxStaticMemLockHandle lock = reinterpret_cast<LxStaticMemLockHandle>(1);
  void* address = reinterpret_cast<void*>(1);
  EXPECT_EQ(video_->lock(0, 0, &lock, &address), LX_OK);  // no window, no service
  EXPECT_EQ(address, nullptr);
  EXPECT_NE(lock, nullptr);
  EXPECT_FALSE(serviceLoaded());
  // Nothing was mapped, so nothing needs the service to be undone.
  EXPECT_EQ(video_->unlock(lock), LX_OK);
  EXPECT_FALSE(serviceLoaded());
  EXPECT_EQ(video_->unlock(lock), LX_PARAMETER_INVALID) << "freed with the unlock";
  EXPECT_EQ(video_->lock(0, 4096, &lock, &address), LX_OPEN_DRIVER_FAILED);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(video_->fill(0, 1, 0), LX_OPEN_DRIVER_FAILED);
  EXPECT_FALSE(serviceLoaded());
}

TEST_F(LxStaticMemory, LockHandlesCarryWindowsFromLockToUnlock) {
  HeldService service;
  uint32_t pages = 0;
  ASSERT_EQ(video_->getStaticMem(&pages), LX_OK);
  EXPECT_EQ(pages, 4096u);
  EXPECT_EQ(video_->getStaticMem(nullptr), LX_PARAMETER_INVALID);

  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  EXPECT_EQ(video_->lock(0, 16, &lock, nullptr), LX_PARAMETER_INVALID);
  EXPECT_EQ(video_->lock(0, 16, nullptr, &address), LX_PARAMETER_INVALID);
  ASSERT_EQ(video_->lock(LX_STATIC_MEM_WHOLE, LX_STATIC_MEM_WHOLE, &lock, &address), LX_OK);
  ASSERT_NE(address, nullptr);
  auto* bytes = static_cast<uint8_t*>(address);
  std::memset(bytes, 0x00, 1 << 20);
  ASSERT_EQ(video_->fill(100000, 300, 0xEE), LX_OK);
  for (uint32_t i = 99000; i < 101000; ++i) ASSERT_EQ(bytes[i], (i >= 100000 && i < 100300) ? 0xEE : 0x00) << i;
  EXPECT_EQ(video_->fill(kSeededBytes, 1, 0xEE), LX_INTERNAL_ERROR);

  // A second window of the same bytes, through its own lock handle.
  LxStaticMemLockHandle second = nullptr;
  void* secondAddress = nullptr;
  ASSERT_EQ(video_->lock(100000, 300, &second, &secondAddress), LX_OK);
  EXPECT_NE(secondAddress, address);
  EXPECT_EQ(static_cast<uint8_t*>(secondAddress)[299], 0xEE);
  EXPECT_EQ(video_->unlock(second), LX_OK);

  EXPECT_EQ(video_->unlock(lock), LX_OK);
  EXPECT_EQ(video_->unlock(lock), LX_PARAMETER_INVALID);  // freed with the unlock

  // Outside the static memory: nothing is mapped and no handle is made.
  lock = reinterpret_cast<LxStaticMemLockHandle>(1);
  EXPECT_EQ(video_->lock(kSeededBytes - 1, 2, &lock, &address), LX_ALLOCATE_DEVICE_MEMORY_ERROR);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(address, nullptr);
}

// Loading and releasing the service library around a call closes its handle
// on the driver; what the process was given stays its own until it gives it
// back or ends.
TEST_F(LxStaticMemory, BlocksAndWindowsOutliveTheLibraryLoadsThatMadeThem) {
  ASSERT_FALSE(serviceLoaded());
  const std::string before = machine_->statusJson();
  DynamicMemBlock block{};
  block.Size = 0xd800;
  ASSERT_EQ(LxDevAllocDynamicMem(&block), LX_OK);
  EXPECT_FALSE(serviceLoaded());
  ASSERT_NE(block.UserAddress, 0u);
  auto* blockBytes = reinterpret_cast<uint8_t*>(block.UserAddress);
  std::memset(blockBytes, 0x3D, block.Size);
  EXPECT_EQ(blockBytes[block.Size - 1], 0x3D);
  EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before) + 1);

  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  {
    HeldService service;  // as an open card's library holds it
    ASSERT_EQ(video_->lock(8192, 4096, &lock, &address), LX_OK);
    std::memset(address, 0x4E, 4096);
  }
  ASSERT_FALSE(serviceLoaded());  // the last card ended
  EXPECT_EQ(static_cast<volatile uint8_t*>(address)[4095], 0x4E);
  EXPECT_EQ(video_->unlock(lock), LX_OK);
  EXPECT_FALSE(serviceLoaded());

  EXPECT_EQ(LxDevFreeDynamicMem(&block), LX_OK);
  EXPECT_EQ(LxDevFreeDynamicMem(&block), LX_INTERNAL_ERROR) << "a block is freed once";
  EXPECT_EQ(hmbtest::processBlockCount(machine_->statusJson()), hmbtest::processBlockCount(before));
}

// Each export takes only its own kind of block: a caller's block, a block of
// another kind and a freed handle are refused without being read.
TEST_F(LxStaticMemory, UnlockTakesOnlyLockHandles) {
  HGLOBAL plain = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 24);
  HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
  EXPECT_EQ(video_->unlock(plain), LX_PARAMETER_INVALID);
  EXPECT_EQ(video_->unlock(small), LX_PARAMETER_INVALID);
  EXPECT_EQ(video_->unlock(nullptr), LX_PARAMETER_INVALID);
  EXPECT_EQ(GlobalFlags(plain) & GMEM_LOCKCOUNT, 0u) << "a refused block is left unlocked";
  GlobalFree(plain);
  GlobalFree(small);

  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  ASSERT_EQ(video_->lock(0, 0, &lock, &address), LX_OK);
  ASSERT_EQ(video_->unlock(lock), LX_OK);
  // The freed slot taken again by a block of the same size is still no lock.
  HGLOBAL reused = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 24);
  EXPECT_EQ(video_->unlock(lock), LX_PARAMETER_INVALID);
  EXPECT_EQ(video_->unlock(reused), LX_PARAMETER_INVALID);
  GlobalFree(reused);
}

TEST_F(LxStaticMemory, FacadeAsksTheServiceOnceBeforeTheFirstOpen) {
  // A fresh process: two answers, with the registry changed in between.
  auto cached = hmbtest::runPeer({"devmm-get", "set-parameter", "RequiredMemorySize", "100", "devmm-get",
                                  "set-parameter", "RequiredMemorySize", "4096"});
  ASSERT_EQ(cached.exitStatus, 0) << cached.output;
  const size_t first = cached.output.find("devmm-get status=0 pages=4096 physical=");
  ASSERT_NE(first, std::string::npos) << cached.output;
  const size_t second = cached.output.find("devmm-get status=0 pages=4096 physical=", first + 1);
  EXPECT_NE(second, std::string::npos) << cached.output;
  // The same change is seen by a process that asks after it.
  auto fresh = hmbtest::runPeer({"set-parameter", "RequiredMemorySize", "100", "lx-get", "set-parameter",
                                 "RequiredMemorySize", "4096"});
  EXPECT_TRUE(contains(fresh.output, "lx-get status=0 pages=100")) << fresh.output;

  auto empty = hmbtest::runPeer({"devmm-lock-empty"});
  EXPECT_TRUE(contains(empty.output, "devmm-lock-empty status=0 loaded=0 user=0 handle=0")) << empty.output;
}

// Changes the machine (size setting, shutdown, reboots): kept last.
TEST_F(LxStaticMemory, NewSizeIsConfirmedOnlyAfterTheRestart) {
  uint32_t pages = 0;
  ASSERT_EQ(video_->setStaticMem(4096), LX_OK);
  EXPECT_EQ(video_->getStaticMem(&pages), LX_ALLOCATE_DEVICE_MEMORY_ERROR);
  EXPECT_EQ(pages, 4096u);
  auto before = hmbtest::runPeer({"lx-get"});
  EXPECT_TRUE(contains(before.output, "lx-get status=-1 pages=4096")) << before.output;

  ASSERT_TRUE(machine_->reboot());
  auto after = hmbtest::runPeer({"lx-get", "devmm-get"});
  EXPECT_TRUE(contains(after.output, "lx-get status=0 pages=4096")) << after.output;
  const size_t at = after.output.find("physical=");
  ASSERT_NE(at, std::string::npos) << after.output;
  const uint64_t physical = std::strtoull(after.output.c_str() + at + 9, nullptr, 10);
  EXPECT_NE(physical, 0u);
  EXPECT_LT(physical + kSeededBytes, 0x100000001ull);

  // A set that fails (no machine to keep the setting) changes nothing: the
  // answer stays the cached one.
  uint32_t cachedPages = 0, cachedBase = 0;
  const LxStatus cached = LxDevGetStaticMem(&cachedPages, &cachedBase);
  ASSERT_TRUE(machine_->shutdown());
  EXPECT_EQ(LxDevSetStaticMem(77), LX_INTERNAL_ERROR);
  EXPECT_EQ(video_->setStaticMem(77), LX_INTERNAL_ERROR);
  uint32_t pagesAfter = 1, baseAfter = 1;
  EXPECT_EQ(LxDevGetStaticMem(&pagesAfter, &baseAfter), cached);
  EXPECT_EQ(pagesAfter, cachedPages);
  EXPECT_EQ(baseAfter, cachedBase);
  ASSERT_TRUE(machine_->boot());
  uint32_t stored = 0;
  ASSERT_TRUE(hmbtest::readParameter("RequiredMemorySize", &stored));
  EXPECT_EQ(stored, 4096u);
}

}  // namespace
