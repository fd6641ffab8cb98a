// DirectDraw subset: the primary display surface, its description and a
// lock that maps the display adapter's frame buffer into the process. The
// interfaces are C++ classes with the COM method names; objects are counted
// by AddRef/Release and delete themselves at the last Release.
#pragma once

#include "windows.h"

#ifndef HWND_DEFINED
#define HWND_DEFINED
typedef struct HWND__* HWND;
#endif
#ifndef RECT_DEFINED
#define RECT_DEFINED
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
#endif
#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
#endif
#ifndef HRESULT_DEFINED
#define HRESULT_DEFINED
typedef LONG HRESULT;
#endif

#define DD_OK ((HRESULT)0)
#define DDERR_GENERIC ((HRESULT)0x80004005L)
#define DDERR_INVALIDPARAMS ((HRESULT)0x80070057L)
#define DDERR_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define DDERR_INVALIDOBJECT ((HRESULT)0x88760082L)
#define DDERR_NODIRECTDRAWHW ((HRESULT)0x887601FFL)
#define DDERR_NOCOOPERATIVELEVELSET ((HRESULT)0x887600D4L)
#define DDERR_PRIMARYSURFACEALREADYEXISTS ((HRESULT)0x88760234L)
#define DDERR_SURFACEBUSY ((HRESULT)0x887601AEL)
#define DDERR_NOTLOCKED ((HRESULT)0x88760248L)
#define DDERR_UNSUPPORTED ((HRESULT)0x80004001L)
#define DDERR_NOCLIPLIST ((HRESULT)0x887600CDL)
#define DDERR_REGIONTOOSMALL ((HRESULT)0x8876019AL)
#define DDERR_NOHWND ((HRESULT)0x88760239L)

// Cooperative levels.
#define DDSCL_FULLSCREEN 0x00000001u
#define DDSCL_NORMAL 0x00000008u
#define DDSCL_EXCLUSIVE 0x00000010u

// DDSURFACEDESC::dwFlags: which members are valid.
#define DDSD_CAPS 0x00000001u
#define DDSD_HEIGHT 0x00000002u
#define DDSD_WIDTH 0x00000004u
#define DDSD_PITCH 0x00000008u
#define DDSD_PIXELFORMAT 0x00001000u
#define DDSD_LPSURFACE 0x00000800u

// DDSCAPS::dwCaps.
#define DDSCAPS_PRIMARYSURFACE 0x00000200u
#define DDSCAPS_VIDEOMEMORY 0x00004000u
#define DDSCAPS_VISIBLE 0x00008000u

// DDPIXELFORMAT::dwFlags.
#define DDPF_PALETTEINDEXED8 0x00000020u
#define DDPF_RGB 0x00000040u

// Lock flags.
#define DDLOCK_SURFACEMEMORYPTR 0x00000000u
#define DDLOCK_WAIT 0x00000001u
#define DDLOCK_READONLY 0x00000010u
#define DDLOCK_WRITEONLY 0x00000020u

typedef struct _DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
} DDCOLORKEY;

typedef struct _DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFourCC;
  DWORD dwRGBBitCount;
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

typedef struct _DDSCAPS {
  DWORD dwCaps;
} DDSCAPS, *LPDDSCAPS;

typedef struct _DDSURFACEDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwRefreshRate;
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  LPVOID lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
} DDSURFACEDESC, *LPDDSURFACEDESC;

// Region data as clip lists come: a 32-byte header, then nCount rectangles.
#define RDH_RECTANGLES 1
typedef struct _RGNDATAHEADER {
  DWORD dwSize;  // 32
  DWORD iType;   // RDH_RECTANGLES
  DWORD nCount;
  DWORD nRgnSize;  // bytes of the rectangles
  RECT rcBound;
} RGNDATAHEADER, *PRGNDATAHEADER;

typedef struct _RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[1];
} RGNDATA, *PRGNDATA, *LPRGNDATA;

#ifdef __cplusplus
static_assert(sizeof(RGNDATAHEADER) == 32, "RGNDATAHEADER");
static_assert(offsetof(RGNDATAHEADER, nCount) == 8 && offsetof(RGNDATAHEADER, rcBound) == 16, "RGNDATAHEADER members");
static_assert(offsetof(RGNDATA, Buffer) == 32, "the rectangles follow the header");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT");
static_assert(offsetof(DDPIXELFORMAT, dwRGBBitCount) == 12 && offsetof(DDPIXELFORMAT, dwRBitMask) == 16,
              "DDPIXELFORMAT members");
static_assert(offsetof(DDSURFACEDESC, lPitch) == 16 && offsetof(DDSURFACEDESC, lpSurface) == 40,
              "DDSURFACEDESC members");
static_assert(offsetof(DDSURFACEDESC, ddpfPixelFormat) == 80 && offsetof(DDSURFACEDESC, ddsCaps) == 112,
              "DDSURFACEDESC formats");
static_assert(sizeof(DDSURFACEDESC) == 120, "DDSURFACEDESC");

// The primary surface of the display: its description is the adapter's
// current mode; Lock maps the frame buffer into the process (a view that the
// machine records, so the kernel can translate its addresses) and Unlock
// unmaps it.
struct IDirectDrawSurface {
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT GetSurfaceDesc(LPDDSURFACEDESC desc) = 0;
  // rect must be null (the whole surface); event is ignored.
  virtual HRESULT Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT Unlock(LPVOID surfaceData) = 0;

 protected:
  virtual ~IDirectDrawSurface() = default;
};

// A clipper bound to a window: its clip list is the visible part of the
// window's client area on the machine's screen (screen coordinates), as the
// GUI bridge reports it.
struct IDirectDrawClipper {
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // flags must be 0; window null unbinds.
  virtual HRESULT SetHWnd(DWORD flags, HWND window) = 0;
  virtual HRESULT GetHWnd(HWND* window) = 0;
  // The clip list, limited to clip when it is given (RECT right and bottom
  // exclusive). data null: *size = bytes needed. *size below that:
  // DDERR_REGIONTOOSMALL with *size = bytes needed. DDERR_NOCLIPLIST without
  // a window. A destroyed window's clip list is empty.
  virtual HRESULT GetClipList(LPRECT clip, LPRGNDATA data, LPDWORD size) = 0;
  // TRUE when the visible region differs from the one the last GetClipList
  // saw (always before the first): moves, sizes, stacking, showing, hiding
  // and the window's destruction.
  virtual HRESULT IsClipListChanged(BOOL* changed) = 0;

 protected:
  virtual ~IDirectDrawClipper() = default;
};

struct IDirectDraw {
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // DDSCL_NORMAL only; the window may be null.
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // Only the primary surface (DDSD_CAPS with DDSCAPS_PRIMARYSURFACE);
  // outer must be null.
  virtual HRESULT CreateSurface(LPDDSURFACEDESC desc, IDirectDrawSurface** surface, void* outer) = 0;
  // flags must be 0; outer must be null.
  virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, void* outer) = 0;

 protected:
  virtual ~IDirectDraw() = default;
};
#else
typedef struct IDirectDraw IDirectDraw;
typedef struct IDirectDrawSurface IDirectDrawSurface;
typedef struct IDirectDrawClipper IDirectDrawClipper;
#endif

typedef IDirectDraw* LPDIRECTDRAW;
typedef IDirectDrawSurface* LPDIRECTDRAWSURFACE;
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;

// guid must be null (the primary display driver); outer must be null.
// DDERR_NODIRECTDRAWHW when the machine cannot be reached.
WIN32_API HRESULT WINAPI DirectDrawCreate(GUID* guid, LPDIRECTDRAW* directDraw, void* outer);
