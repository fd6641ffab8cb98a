// Public video API: card handles and their lifecycle, video parameters and
// board access. Every function returns an LxStatus.
#pragma once

#include <stdint.h>

#include "lx/board_info.h"
#include "lx/card_type.h"
#include "lx/export.h"
#include "lx/status.h"
#include "lx/video_types.h"

// A card handle: a movable global memory block (HGLOBAL) holding the
// library's record of the card. Made by BeginLxCard, freed by EndLxCard.
typedef void* LxCardHandle;

// A video input: kind (LxVideoSourceKind) and number within the kind.
typedef struct LxVideoSource {
  int32_t kind;
  int32_t number;
} LxVideoSource;

// ---- lifecycle --------------------------------------------------------------
// Opens global card number cardIndex (1 to 128). *handle is 0 unless it succeeds.
LX_EXPORT LxStatus BeginLxCard(int cardIndex, LxCardHandle* handle);
// Refused with LX_IN_WORK while capture or snapping runs.
LX_EXPORT LxStatus EndLxCard(LxCardHandle handle);
LX_EXPORT LxStatus LxGetCardTotal(int32_t* total);
LX_EXPORT LxStatus LxGetCardType(LxCardHandle handle, int32_t* type);

// ---- video parameters -------------------------------------------------------
LX_EXPORT LxStatus LxSetVideoSource(LxCardHandle handle, struct LxVideoSource source);
LX_EXPORT LxStatus LxSetVideoStandard(LxCardHandle handle, int standard);
LX_EXPORT LxStatus LxSetVideoFormat(LxCardHandle handle, int format);
LX_EXPORT LxStatus LxSetScanMode(LxCardHandle handle, uint32_t mode);
// Heights are frame heights; 4 <= width <= 768, 2 <= height <= 576.
LX_EXPORT LxStatus LxSetInputWindow(LxCardHandle handle, int x, int y, int width, int height);
LX_EXPORT LxStatus LxSetOutputWindow(LxCardHandle handle, int x, int y, int width, int height);
// kind 1 brightness, 2 contrast, 3 hue, 4 saturation.
LX_EXPORT LxStatus LxAdjustVideo(LxCardHandle handle, uint32_t kind, uint8_t value);
LX_EXPORT LxStatus LxSetDelay(LxCardHandle handle, uint16_t xDelay, uint16_t yDelay);
LX_EXPORT LxStatus LxSetPLLFrequency(LxCardHandle handle, uint8_t frequency);
LX_EXPORT LxStatus LxSelectCryOSC(LxCardHandle handle, int oscillator);
LX_EXPORT LxStatus LxEnableVideoMirror(LxCardHandle handle, int direction, int32_t enable);
LX_EXPORT LxStatus LxSetVideoExtOutput(LxCardHandle handle, uint32_t output, uint16_t value);
LX_EXPORT LxStatus LxLumaControl(LxCardHandle handle, uint8_t kind, uint8_t value);
LX_EXPORT LxStatus LxGammaCorrControl(LxCardHandle handle, uint8_t enable);
LX_EXPORT LxStatus LxSetGammaCorrCoef(LxCardHandle handle, void* coefficients);
LX_EXPORT LxStatus LxLoadCFGFile(LxCardHandle handle, const char* file);
LX_EXPORT LxStatus LxReadSCMParam(LxCardHandle handle, void* block);
LX_EXPORT LxStatus LxWriteSCMParam(LxCardHandle handle, void* block, uint8_t value);

// ---- board access -----------------------------------------------------------
LX_EXPORT LxStatus LxVideoPresent(LxCardHandle handle, int32_t* present);
// kind: LxBoardInfoKind; buffer receives LxBoardInfoBytes(kind) bytes
// (lx/board_info.h), at most LX_BOARD_INFO_MAX_BYTES.
LX_EXPORT LxStatus LxGetBoardInfo(LxCardHandle handle, int kind, void* buffer);
// buffer: an LxSlotInfo (12 bytes).
LX_EXPORT LxStatus LxGetSlotInfo(LxCardHandle handle, void* buffer);
LX_EXPORT LxStatus LxGetI2CParam(LxCardHandle handle, uint16_t device, uint8_t subaddress, uint8_t* data, int count);
LX_EXPORT LxStatus LxSetI2CParam(LxCardHandle handle, uint16_t device, uint8_t subaddress, uint8_t* data, int count);
LX_EXPORT LxStatus LxGet32BitParam(LxCardHandle handle, uint16_t reg, int32_t* value);
LX_EXPORT LxStatus LxSet32BitParam(LxCardHandle handle, uint16_t reg, int32_t value);
// Command 16 with *b = 4 writes to *a how many handles are open for this
// card across all processes; other commands go to the card library (for
// TernCard: a is the command record, b the address of its size, 32).
LX_EXPORT LxStatus LxCommand(LxCardHandle handle, uint32_t command, int32_t* a, int32_t* b);
// Device control of the card's on-board controller (for TernCard: input is
// the output byte, output the address of the 32-bit size).
LX_EXPORT LxStatus LxDeviceControl(LxCardHandle handle, uint32_t code, void* input, void* output);
