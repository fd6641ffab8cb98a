// Card-library functions as the public API calls them. Every card library
// exports them with these types; the first argument is the context that its
// start function returned.
#pragma once

#include <stdint.h>

namespace lxvideo::card {

using Begin = uint64_t (*)(int32_t numberInType);
using End = int32_t (*)(uint64_t context);
// address: the mask's user address (layout A) or its 32-bit physical address (layout B).
using SetMask = int32_t (*)(uint64_t context, uint8_t kind, void* address);

using SetADParam = int32_t (*)(uint64_t context, uint8_t kind, uint8_t value);
using SetVideoStandard = int32_t (*)(uint64_t context, uint16_t standard);
using SetColorSpace = int32_t (*)(uint64_t context, uint8_t code);
using SetDispMode = int32_t (*)(uint64_t context, int32_t mode);
using SetWindow = int32_t (*)(uint64_t context, int32_t x, int32_t y, int32_t width, int32_t height);
using SetDelay = int32_t (*)(uint64_t context, uint16_t x, uint16_t y);
using SetPLLFreqParam = int32_t (*)(uint64_t context, uint8_t value);
using SelectCryOSC = int32_t (*)(uint64_t context, uint8_t oscillator);
using EnableVideoMirror = int32_t (*)(uint64_t context, uint8_t direction, int32_t enable);
using SetVideoOutput = int32_t (*)(uint64_t context, uint8_t output, uint16_t value);
using LumaControl = int32_t (*)(uint64_t context, uint8_t kind, uint8_t value);
using GammaCorrControl = int32_t (*)(uint64_t context, uint8_t enable);
using SetGammaCorrCoef = int32_t (*)(uint64_t context, void* coefficients);
using LoadCFGFile = int32_t (*)(uint64_t context, const char* file);
using ReadSCMParam = int32_t (*)(uint64_t context, void* block);
using WriteSCMParam = int32_t (*)(uint64_t context, void* block, uint8_t value);

using VideoPresent = int32_t (*)(uint64_t context, int32_t* present);
using GetBoardInfos = int32_t (*)(uint64_t context, uint8_t kind, void* buffer);
using GetSlotInfo = int32_t (*)(uint64_t context, void* slotInfo);
using I2CParam = int32_t (*)(uint64_t context, uint16_t device, uint8_t subAddress, uint8_t* data, int32_t count);
using Get32BitParam = int32_t (*)(uint64_t context, uint32_t offset, uint32_t* value);
using Set32BitParam = int32_t (*)(uint64_t context, uint32_t offset, uint32_t value);
// record: the card library's command record; size: its size in bytes.
using Command = int32_t (*)(uint64_t context, uint32_t command, void* record, uint32_t* size);
// output: one byte (or more, by the code); size: a 32-bit count.
using DeviceControl = int32_t (*)(uint64_t context, uint32_t code, uint8_t* output, uint32_t* size);

}  // namespace lxvideo::card
