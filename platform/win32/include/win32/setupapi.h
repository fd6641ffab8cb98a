// Win32 subset: SetupAPI device-interface enumeration.
#pragma once

#include "windows.h"

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
#endif
typedef const GUID* LPCGUID;

#ifndef HWND_DEFINED
#define HWND_DEFINED
typedef struct HWND__* HWND;
#endif

typedef PVOID HDEVINFO;
typedef const char* PCSTR;
typedef DWORD* PDWORD;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPINT_ACTIVE 0x00000001u
#define ERROR_INVALID_FLAGS 1004L

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

#ifdef __cplusplus
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout (64-bit)");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout (64-bit)");
static_assert(offsetof(SP_DEVICE_INTERFACE_DATA, Flags) == 20, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "cbSize of the detail record (64-bit)");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4, "detail record layout");
#endif

// Only interface lists (DIGCF_DEVICEINTERFACE) of one class exist here; the
// list is a snapshot of the interfaces present when it was made.
WIN32_API HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
WIN32_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                                  const GUID* interfaceClassGuid, DWORD memberIndex,
                                                  PSP_DEVICE_INTERFACE_DATA deviceInterfaceData);
WIN32_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO deviceInfoSet,
                                                       PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A deviceInterfaceDetailData,
                                                       DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                                       PSP_DEVINFO_DATA deviceInfoData);
WIN32_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);
