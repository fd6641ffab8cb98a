// The library's exports against HMBServ in a private machine: the size
// setting and the next start, lock results, dynamic blocks, the display
// description in every mode, and a library that could not open the driver.
#include <gtest/gtest.h>

#include <ddraw.h>

#include <cstring>

#include "machine_suite.h"
#include "service_library.h"

namespace {

constexpr uint32_t kFrameBuffer = 0xE0000000u;  // the display adapter's VRAM

using hmbtest::allZero;

class HmbseapiMachine : public hmbtest::MachineSuite {};

TEST_F(HmbseapiMachine, LockResultsTellMappedValidAndOutside) {
  ServiceLibrary library;
  ASSERT_TRUE(library.loaded());
  uint32_t pages = 0, base = 0;
  ASSERT_EQ(library.getStaticMem(&pages, &base), 1);
  const uint32_t size = pages * 4096;

  StaticMemBlock empty{};
  empty.Offset = 4096;
  EXPECT_EQ(library.lock(&empty), 0);  // valid, but nothing to map
  EXPECT_EQ(empty.PhysicalAddress, base + 4096);
  EXPECT_NE(empty.KernelAddress, 0u);
  EXPECT_EQ(empty.UserAddress, 0u);
  EXPECT_EQ(empty.MappingHandle, 0u);
  EXPECT_EQ(library.unlock(&empty), 1);

  StaticMemBlock whole{};
  whole.Offset = whole.Length = LX_STATIC_MEM_WHOLE;
  ASSERT_EQ(library.lock(&whole), 1);
  EXPECT_EQ(whole.Offset, 0u);
  EXPECT_EQ(whole.Length, size);
  EXPECT_EQ(whole.PhysicalAddress, base);

  StaticMemBlock outside{};
  outside.Offset = size - 1;
  outside.Length = 2;
  EXPECT_EQ(library.lock(&outside), 0);
  EXPECT_TRUE(allZero(&outside, sizeof outside));

  EXPECT_EQ(library.fill(size - 1, 1, 0xAB), 1);
  EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(whole.UserAddress)[size - 1], 0xAB);
  EXPECT_EQ(library.fill(size - 1, 2, 0xAB), 0);
  EXPECT_EQ(library.unlock(&whole), 1);
  EXPECT_EQ(library.unlock(&whole), 0);  // the driver no longer knows it
}

TEST_F(HmbseapiMachine, DynamicBlocksComeMappedAndGoBack) {
  ServiceLibrary library;
  DynamicMemBlock block{};
  block.Size = 0xd800;
  ASSERT_EQ(library.allocate(&block), 1);
  ASSERT_NE(block.UserAddress, 0u);
  EXPECT_EQ(block.Size, 0xd800u);
  EXPECT_NE(block.PhysicalAddress, 0u);
  std::memset(reinterpret_cast<void*>(block.UserAddress), 0xFF, block.Size);
  EXPECT_EQ(library.release(&block), 1);

  DynamicMemBlock tooLarge{};
  tooLarge.Size = 0x7FFFFFFF;  // more than the machine has: success, all zero
  EXPECT_EQ(library.allocate(&tooLarge), 1);
  EXPECT_TRUE(allZero(&tooLarge, sizeof tooLarge));
  EXPECT_EQ(library.release(&tooLarge), 1);
}

// Null records, forged ones and values out of range: each export answers 0
// and leaves the caller's memory as it was.
TEST_F(HmbseapiMachine, BadArgumentsAreRefused) {
  ServiceLibrary library;
  ASSERT_TRUE(library.loaded());
  uint32_t word = 0xA5A5A5A5;
  EXPECT_EQ(library.lock(nullptr), 0);
  EXPECT_EQ(library.unlock(nullptr), 0);
  EXPECT_EQ(library.getStaticMem(nullptr, &word), 0);
  EXPECT_EQ(library.getStaticMem(&word, nullptr), 0);
  EXPECT_EQ(word, 0xA5A5A5A5u);
  EXPECT_EQ(library.allocate(nullptr), 0);
  EXPECT_EQ(library.release(nullptr), 0);
  EXPECT_EQ(library.displayInfo(nullptr), 0);
  uint8_t line[16] = {};
  EXPECT_EQ(library.transform(nullptr, line, 4, 1, 2, 0, 0), 0);
  EXPECT_EQ(library.transform(line, nullptr, 4, 1, 2, 0, 0), 0);
  EXPECT_EQ(library.transform(line, line, -4, 1, 2, 0, 0), 1) << "nothing to copy";
  EXPECT_TRUE(allZero(line, sizeof line));

  // A window past the end and a record of blocks never issued.
  uint32_t pages = 0, base = 0;
  ASSERT_EQ(library.getStaticMem(&pages, &base), 1);
  StaticMemBlock beyond{};
  beyond.Offset = 0xFFFFF000u;
  beyond.Length = 0x2000;
  EXPECT_EQ(library.lock(&beyond), 0);
  EXPECT_EQ(beyond.UserAddress, 0u);
  EXPECT_EQ(library.fill(0xFFFFFFF0u, 0x20, 0xAB), 0);
  StaticMemBlock forgedWindow{};
  forgedWindow.UserAddress = reinterpret_cast<uintptr_t>(line);
  forgedWindow.MappingHandle = 12345;
  EXPECT_EQ(library.unlock(&forgedWindow), 0);
  DynamicMemBlock forgedBlock{};
  forgedBlock.UserAddress = reinterpret_cast<uintptr_t>(line);
  forgedBlock.MappingHandle = 12345;
  forgedBlock.Size = sizeof line;
  EXPECT_EQ(library.release(&forgedBlock), 0);
  EXPECT_TRUE(allZero(line, sizeof line));
}

TEST_F(HmbseapiMachine, DisplayInfoFollowsTheMode) {
  ServiceLibrary library;
  struct Case {
    const char* mode;
    DisplayInfo expected;
  };
  const Case cases[] = {
      {"1024x768x32", {0, 0, 1024, 768, 1024, 32, 4, kFrameBuffer}},
      {"800x600x16", {0, 0, 800, 600, 800, 16, 2, kFrameBuffer}},
      {"800x600x15", {0, 0, 800, 600, 800, 15, 2, kFrameBuffer}},
      {"1023x100x24", {0, 0, 1023, 100, 1024, 24, 3, kFrameBuffer}},  // lines padded to 3072 bytes
      {"641x480x8", {0, 0, 641, 480, 644, 8, 1, kFrameBuffer}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(machine_->setDisplay(c.mode));
    DisplayInfo info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(library.displayInfo(&info), 1);
    EXPECT_EQ(std::memcmp(&info, &c.expected, sizeof info), 0)
        << info.Width << "x" << info.Height << " pitch " << info.PitchPixels << " bits " << info.BitsPerPixel
        << " bytes " << info.BytesPerPixel << " fb " << std::hex << info.FrameBufferAddress;
  }
  ASSERT_TRUE(machine_->setDisplay("1024x768x32"));
}

// The DirectDraw primary surface behind the display description: its rules,
// and a lock whose address is the adapter's VRAM, as the driver sees it.
TEST_F(HmbseapiMachine, PrimarySurfaceLockMapsTheFrameBuffer) {
  IDirectDraw* directDraw = nullptr;
  ASSERT_EQ(DirectDrawCreate(nullptr, &directDraw, nullptr), DD_OK);
  DDSURFACEDESC request;
  std::memset(&request, 0, sizeof request);
  request.dwSize = sizeof request;
  request.dwFlags = DDSD_CAPS;
  request.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* surface = reinterpret_cast<IDirectDrawSurface*>(1);
  EXPECT_EQ(directDraw->CreateSurface(&request, &surface, nullptr), DDERR_NOCOOPERATIVELEVELSET);
  EXPECT_EQ(surface, nullptr);
  EXPECT_EQ(directDraw->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DDERR_UNSUPPORTED);
  ASSERT_EQ(directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  request.ddsCaps.dwCaps = DDSCAPS_VIDEOMEMORY;
  EXPECT_EQ(directDraw->CreateSurface(&request, &surface, nullptr), DDERR_INVALIDPARAMS);
  request.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  ASSERT_EQ(directDraw->CreateSurface(&request, &surface, nullptr), DD_OK);

  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  ASSERT_EQ(surface->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_EQ(desc.dwWidth, 1024u);
  EXPECT_EQ(desc.dwHeight, 768u);
  EXPECT_EQ(desc.lPitch, 4096);
  EXPECT_EQ(desc.ddpfPixelFormat.dwFlags, DDPF_RGB);
  EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 32u);
  EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, 0xFF0000u);
  EXPECT_EQ(desc.ddpfPixelFormat.dwGBitMask, 0xFF00u);
  EXPECT_EQ(desc.ddpfPixelFormat.dwBBitMask, 0xFFu);

  RECT part{0, 0, 10, 10};
  EXPECT_EQ(surface->Lock(&part, &desc, 0, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(surface->Unlock(nullptr), DDERR_NOTLOCKED);
  ASSERT_EQ(surface->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  ASSERT_NE(desc.lpSurface, nullptr);
  DDSURFACEDESC again = desc;
  EXPECT_EQ(surface->Lock(nullptr, &again, 0, nullptr), DDERR_SURFACEBUSY);
  auto* pixels = static_cast<uint32_t*>(desc.lpSurface);
  pixels[1024 * 767 + 1023] = 0x00C0FFEE;  // the last pixel of the screen

  const uint64_t lastPixel = reinterpret_cast<uint64_t>(&pixels[1024 * 767 + 1023]);
  uint32_t physical = 0;
  DWORD returned = 0;
  HANDLE service =
      CreateFileA("\\\\.\\HMBSERV", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(service, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeviceIoControl(service, IOCTL_HMB_PHYSICAL_ADDRESS, const_cast<uint64_t*>(&lastPixel), 8, &physical,
                              4, &returned, nullptr));
  EXPECT_EQ(physical, kFrameBuffer + 4096u * 767 + 4 * 1023);
  ASSERT_EQ(surface->Unlock(desc.lpSurface), DD_OK);
  // After the unlock the view is gone: the address no longer translates.
  ASSERT_TRUE(DeviceIoControl(service, IOCTL_HMB_PHYSICAL_ADDRESS, const_cast<uint64_t*>(&lastPixel), 8, &physical,
                              4, &returned, nullptr));
  EXPECT_EQ(physical, 0u);
  CloseHandle(service);

  // The frame buffer keeps what was written: a new lock shows it.
  ASSERT_EQ(surface->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(static_cast<uint32_t*>(desc.lpSurface)[1024 * 767 + 1023], 0x00C0FFEEu);
  EXPECT_EQ(surface->Unlock(desc.lpSurface), DD_OK);
  EXPECT_EQ(surface->Release(), 0u);
  EXPECT_EQ(directDraw->Release(), 0u);
}

TEST_F(HmbseapiMachine, TransformNeedsNoDriver) {
  ServiceLibrary library;
  const uint8_t src[4] = {0x00, 0xF8, 0x1F, 0x00};
  uint8_t dst[6] = {};
  ASSERT_EQ(library.transform(dst, src, 2, 1, 2, 2, 0), 1);
  const uint8_t expected[6] = {0x00, 0x00, 0xF8, 0xF8, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(dst, expected, 6), 0);
}

// Changes the machine's registry and reboots: kept near the end.
TEST_F(HmbseapiMachine, NewSizeWaitsForTheNextStart) {
  {
    ServiceLibrary library;
    ASSERT_EQ(library.setStaticMem(2048), 1);
    uint32_t pages = 1, base = 1, returnValue = 1;
    EXPECT_EQ(library.getStaticMem(&pages, &base), 0);
    EXPECT_EQ(pages, 2048u);
    EXPECT_EQ(base, 0u);
    ASSERT_TRUE(hmbtest::readParameter("ReturnValue", &returnValue));
    EXPECT_EQ(returnValue, 0u);
  }
  ASSERT_TRUE(machine_->reboot());
  {
    ServiceLibrary library;  // a handle of the new boot
    uint32_t pages = 0, base = 0;
    ASSERT_EQ(library.getStaticMem(&pages, &base), 1);
    EXPECT_EQ(pages, 2048u);
    EXPECT_NE(base, 0u);
    StaticMemBlock whole{};
    whole.Offset = whole.Length = LX_STATIC_MEM_WHOLE;
    ASSERT_EQ(library.lock(&whole), 1);
    EXPECT_EQ(whole.Length, 2048u * 4096u);
    EXPECT_EQ(library.unlock(&whole), 1);
    // Size 0 asked: success, no base.
    ASSERT_EQ(library.setStaticMem(0), 1);
  }
  ASSERT_TRUE(machine_->reboot());
  {
    ServiceLibrary library;
    uint32_t pages = 1, base = 1;
    EXPECT_EQ(library.getStaticMem(&pages, &base), 1);
    EXPECT_EQ(pages, 0u);
    EXPECT_EQ(base, 0u);
    ASSERT_EQ(library.setStaticMem(4096), 1);
  }
  ASSERT_TRUE(machine_->reboot());
}

TEST_F(HmbseapiMachine, WithoutTheDriverEveryRequestFails) {
  ASSERT_TRUE(machine_->shutdown());
  {
    ServiceLibrary library;  // attaches; the open fails
    ASSERT_TRUE(library.loaded());
    StaticMemBlock block{};
    block.Offset = 1;
    block.Length = 2;
    EXPECT_EQ(library.lock(&block), 0);
    EXPECT_EQ(block.Offset, 1u);  // never reached a driver
    uint32_t pages = 9, base = 9;
    EXPECT_EQ(library.getStaticMem(&pages, &base), 0);
    EXPECT_EQ(pages, 0u);
    EXPECT_EQ(base, 0u);
    EXPECT_EQ(library.setStaticMem(1), 0);
    EXPECT_EQ(library.fill(0, 1, 0), 0);
    DisplayInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(library.displayInfo(&info), 0);
    EXPECT_TRUE(allZero(&info, sizeof info));
  }
  ASSERT_TRUE(machine_->boot());
}

}  // namespace
