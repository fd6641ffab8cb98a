// A second client process for the static-memory tests. It runs the commands
// given as arguments in order and prints one line per command:
//   load                  load "Hmbseapi.dll" (as a card library would)
//   lock OFFSET LENGTH    HmbStaticMemLock; the window gets the next index
//   fill I VALUE          write VALUE over window I
//   expect I VALUE        check that window I holds only VALUE
//   unlock I              HmbStaticMemUnlock of window I
//   alloc SIZE            HmbDynamicMemAlloc, then write 0xA5 over the block
//   lx-get                LxGetStaticMem
//   devmm-lock-empty      LxDevStaticMemLock with Length 0
//   devmm-get             LxDevGetStaticMem
//   set-parameter NAME V  write a REG_DWORD under the service's Parameters key
//   raw-unlock USER MAP   send an unlock of that record through a handle of its own
//   raw-free USER MAP KERNEL  likewise a dynamic-block free
//   hold                  print "holding" and wait (at most a minute) to be killed
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lx/devmm.h"
#include "lx/hmb_control_codes.h"
#include "lx/hmbseapi.h"
#include "lx/video.h"

namespace {

template <typename Function>
Function find(const char* name) {
  HMODULE module = GetModuleHandleA("Hmbseapi.dll");
  return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

uint32_t number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }
uint64_t wide(const char* text) { return std::strtoull(text, nullptr, 0); }

// One request on a handle of the driver opened for it; the request's success.
bool rawRequest(uint32_t code, const void* input, DWORD length) {
  HANDLE device = CreateFileA("\\\\.\\HMBSERV", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const bool ok = DeviceIoControl(device, code, const_cast<void*>(input), length, nullptr, 0, &returned, nullptr) != FALSE;
  CloseHandle(device);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<StaticMemBlock> windows;
  std::vector<DynamicMemBlock> blocks;
  for (int i = 1; i < argc; ++i) {
    const std::string command = argv[i];
    auto argument = [&](int k) { return i + k < argc ? argv[i + k] : "0"; };
    if (command == "load") {
      std::printf("load %s\n", LoadLibraryA("Hmbseapi.dll") != nullptr ? "ok" : "failed");
    } else if (command == "lock") {
      StaticMemBlock block{};
      block.Offset = number(argument(1));
      block.Length = number(argument(2));
      i += 2;
      auto lock = find<decltype(&HmbStaticMemLock)>("HmbStaticMemLock");
      const int rc = lock ? lock(&block) : -1;
      windows.push_back(block);
      std::printf("lock rc=%d phys=%u mapped=%d off=%u len=%u\n", rc, block.PhysicalAddress,
                  block.UserAddress != 0, block.Offset, block.Length);
    } else if (command == "fill" || command == "expect") {
      const size_t index = number(argument(1));
      const auto value = static_cast<uint8_t>(number(argument(2)));
      i += 2;
      if (index >= windows.size() || windows[index].UserAddress == 0) {
        std::printf("%s no-window\n", command.c_str());
        continue;
      }
      auto* bytes = reinterpret_cast<uint8_t*>(windows[index].UserAddress);
      if (command == "fill") {
        std::memset(bytes, value, windows[index].Length);
        std::printf("fill ok\n");
      } else {
        size_t at = 0;
        while (at < windows[index].Length && bytes[at] == value) ++at;
        if (at == windows[index].Length) {
          std::printf("expect ok\n");
        } else {
          std::printf("expect bad at %zu: 0x%02X\n", at, bytes[at]);
        }
      }
    } else if (command == "unlock") {
      const size_t index = number(argument(1));
      i += 1;
      auto unlock = find<decltype(&HmbStaticMemUnlock)>("HmbStaticMemUnlock");
      std::printf("unlock rc=%d\n", unlock && index < windows.size() ? unlock(&windows[index]) : -1);
    } else if (command == "raw-unlock") {
      StaticMemBlock block{};
      block.UserAddress = wide(argument(1));
      block.MappingHandle = wide(argument(2));
      i += 2;
      std::printf("raw-unlock %s\n", rawRequest(IOCTL_HMB_STATIC_UNLOCK, &block, sizeof block) ? "ok" : "refused");
    } else if (command == "raw-free") {
      DynamicMemBlock block{};
      block.UserAddress = wide(argument(1));
      block.MappingHandle = wide(argument(2));
      block.KernelAddress = wide(argument(3));
      i += 3;
      std::printf("raw-free %s\n", rawRequest(IOCTL_HMB_DYNAMIC_FREE, &block, sizeof block) ? "ok" : "refused");
    } else if (command == "alloc") {
      DynamicMemBlock block{};
      block.Size = number(argument(1));
      i += 1;
      auto allocate = find<decltype(&HmbDynamicMemAlloc)>("HmbDynamicMemAlloc");
      const int rc = allocate ? allocate(&block) : -1;
      if (block.UserAddress != 0) std::memset(reinterpret_cast<void*>(block.UserAddress), 0xA5, block.Size);
      blocks.push_back(block);
      std::printf("alloc rc=%d mapped=%d size=%u\n", rc, block.UserAddress != 0, block.Size);
    } else if (command == "lx-get") {
      uint32_t pages = 0;
      const LxStatus status = LxGetStaticMem(&pages);
      std::printf("lx-get status=%d pages=%u\n", status, pages);
    } else if (command == "devmm-lock-empty") {
      StaticMemBlock block{};
      block.Offset = 16;
      block.UserAddress = 1;
      block.MappingHandle = 1;
      const LxStatus status = LxDevStaticMemLock(&block);
      std::printf("devmm-lock-empty status=%d loaded=%d user=%llu handle=%llu\n", status,
                  GetModuleHandleA("Hmbseapi.dll") != nullptr, static_cast<unsigned long long>(block.UserAddress),
                  static_cast<unsigned long long>(block.MappingHandle));
    } else if (command == "devmm-get") {
      uint32_t pages = 0, physical = 0;
      const LxStatus status = LxDevGetStaticMem(&pages, &physical);
      std::printf("devmm-get status=%d pages=%u physical=%u\n", status, pages, physical);
    } else if (command == "set-parameter") {
      const std::string name = argument(1);
      const uint32_t value = number(argument(2));
      i += 2;
      HKEY key = nullptr;
      bool ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, HMB_PARAMETERS_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
      if (ok) {
        ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) ==
             ERROR_SUCCESS;
        RegCloseKey(key);
      }
      std::printf("set-parameter %s\n", ok ? "ok" : "failed");
    } else if (command == "hold") {
      std::printf("holding\n");
      std::fflush(stdout);
      for (int tick = 0; tick < 600; ++tick) ::usleep(100 * 1000);
      return 2;  // nobody killed us
    } else {
      std::printf("unknown command %s\n", command.c_str());
      return 1;
    }
    std::fflush(stdout);
  }
  return 0;
}
