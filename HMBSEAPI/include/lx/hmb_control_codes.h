// Device control codes of the static-memory driver: device type 0x8000,
// buffered transfer, any access, functions 0x801 to 0x808. Shared by the
// user-mode library and the driver; the buffer lengths are exact.
#pragma once

#include <stdint.h>

#define HMB_CONTROL_CODE(function) ((uint32_t)((0x8000u << 16) | ((function) << 2)))

// in StaticMemBlock (40), out the same block (40)
inline constexpr uint32_t IOCTL_HMB_STATIC_LOCK = HMB_CONTROL_CODE(0x801);
// in StaticMemBlock (40), out none
inline constexpr uint32_t IOCTL_HMB_STATIC_UNLOCK = HMB_CONTROL_CODE(0x802);
// in the Size field of a DynamicMemBlock (4), out DynamicMemBlock (32)
inline constexpr uint32_t IOCTL_HMB_DYNAMIC_ALLOC = HMB_CONTROL_CODE(0x803);
// in DynamicMemBlock (32), out none
inline constexpr uint32_t IOCTL_HMB_DYNAMIC_FREE = HMB_CONTROL_CODE(0x804);
// in u64 address of the calling process (8), out u32 physical address (4)
inline constexpr uint32_t IOCTL_HMB_PHYSICAL_ADDRESS = HMB_CONTROL_CODE(0x805);
// in none, out u32 vendor and u32 device identifier (8)
inline constexpr uint32_t IOCTL_HMB_FIND_DISPLAY_ADAPTER = HMB_CONTROL_CODE(0x806);
// in none, out u32 physical address of the static memory (4)
inline constexpr uint32_t IOCTL_HMB_STATIC_BASE = HMB_CONTROL_CODE(0x807);
// in StaticFillRequest (12), out none
inline constexpr uint32_t IOCTL_HMB_STATIC_FILL = HMB_CONTROL_CODE(0x808);

static_assert(IOCTL_HMB_STATIC_LOCK == 0x80002004u);
static_assert(IOCTL_HMB_STATIC_UNLOCK == 0x80002008u);
static_assert(IOCTL_HMB_DYNAMIC_ALLOC == 0x8000200Cu);
static_assert(IOCTL_HMB_DYNAMIC_FREE == 0x80002010u);
static_assert(IOCTL_HMB_PHYSICAL_ADDRESS == 0x80002014u);
static_assert(IOCTL_HMB_FIND_DISPLAY_ADAPTER == 0x80002018u);
static_assert(IOCTL_HMB_STATIC_BASE == 0x8000201Cu);
static_assert(IOCTL_HMB_STATIC_FILL == 0x80002020u);

// Where the size setting lives, below HKEY_LOCAL_MACHINE (the driver's
// service key).
#define HMB_PARAMETERS_KEY "SYSTEM\\CurrentControlSet\\Services\\HMBServ\\Parameters"
#define HMB_REQUIRED_MEMORY_SIZE "RequiredMemorySize"
#define HMB_RETURN_VALUE "ReturnValue"
