// Commands to the on-board controller: command messages, and writes to and
// reads from its memory.
#include <cstring>
#include <vector>

#include "acknowledged_transfer.h"
#include "card_handle.h"
#include "controller_channel.h"
#include "i2c_bus.h"
#include "i2c_bus_lock.h"
#include "lx/terncard_command.h"
#include "register_access.h"
#include "register_map.h"

using namespace terncard;

namespace {

constexpr uint32_t kCommandRecordBytes = sizeof(TernCardCommandRecord);
// Levels and enables the memory transfers put on the general-purpose lines.
constexpr uint32_t kTransferLineLevels = 0x7FFFFF;
constexpr uint32_t kAllLinesOutput = 0xFFFFFF;

struct Command {
  const uint8_t* header;
  uint8_t headerCount;
  uint16_t address;
  uint8_t* data;
  uint8_t dataCount;
};

Command commandOf(const void* record) {
  TernCardCommandRecord raw;
  std::memcpy(&raw, record, sizeof raw);
  return {raw.header, static_cast<uint8_t>(raw.headerCount), static_cast<uint16_t>(raw.address), raw.data,
          static_cast<uint8_t>(raw.dataCount)};
}

// Every byte the command names must be there, and there must be data: the
// last data byte is what ends a write.
bool complete(const Command& command) {
  return (command.headerCount == 0 || command.header != nullptr) && command.data != nullptr &&
         command.dataCount != 0;
}

// The header count, then the header bytes; a count of 0 stands alone.
void appendHeader(std::vector<uint8_t>* bytes, const Command& command) {
  bytes->push_back(command.headerCount);
  bytes->insert(bytes->end(), command.header, command.header + command.headerCount);
}

void appendAddress(std::vector<uint8_t>* bytes, const Command& command) {
  bytes->push_back(static_cast<uint8_t>(command.address >> 8));
  bytes->push_back(static_cast<uint8_t>(command.address));
}

void appendData(std::vector<uint8_t>* bytes, const Command& command) {
  bytes->push_back(command.dataCount);
  bytes->insert(bytes->end(), command.data, command.data + command.dataCount);
}

bool sendMessage(TernCardContext* context, const Command& command) {
  std::vector<uint8_t> bytes;
  appendHeader(&bytes, command);
  appendData(&bytes, command);
  if (AckedWrite(context, kControllerAddress, kSubCommandMessage, bytes) != 0) {
    return false;
  }
  return controllerAccepted(context);
}

void driveTransferLines(TernCardContext* context) {
  writeRegister(context, REG_GPIO_DATA, kTransferLineLevels);
  writeRegister(context, REG_GPIO_ENABLE, kAllLinesOutput);
}

bool writeMemory(TernCardContext* context, const Command& command) {
  std::vector<uint8_t> bytes;
  appendHeader(&bytes, command);
  appendAddress(&bytes, command);
  appendData(&bytes, command);
  driveTransferLines(context);
  if (AckedWrite(context, kControllerAddress, kSubAddressedWrite, bytes) != 0) {
    // Lines left driving after a failed transfer would fight the board.
    writeRegister(context, REG_GPIO_ENABLE, 0);
    return false;
  }
  return controllerAccepted(context);
}

bool readMemory(TernCardContext* context, const Command& command) {
  std::vector<uint8_t> bytes;
  appendAddress(&bytes, command);
  if (command.headerCount != 0) {
    appendHeader(&bytes, command);
  }
  driveTransferLines(context);
  const bool read = AckedWriteThenRead(context, kControllerAddress, kSubAddressedRead, bytes, command.data,
                                       command.dataCount) == 0;
  writeRegister(context, REG_GPIO_ENABLE, 0);
  return read;
}

}  // namespace

LX_EXPORT int32_t TernCardCommand(uint64_t handle, uint32_t type, void* record, uint32_t* size) {
  LockedContext context(handle);
  if (!context || record == nullptr || size == nullptr) {
    return 0;
  }
  if (type > TERN_COMMAND_READ) {
    *size = 0;
    return 1;
  }
  if (*size != kCommandRecordBytes) {
    return 0;
  }
  const Command command = commandOf(record);
  if (!complete(command)) {
    return 0;
  }
  // The whole command with its status check is one piece of bus traffic.
  const I2cBusLock bus(context.get());
  switch (type) {
    case TERN_COMMAND_MESSAGE:
      return sendMessage(context.get(), command) ? 1 : 0;
    case TERN_COMMAND_WRITE:
      return writeMemory(context.get(), command) ? 1 : 0;
    default:
      return readMemory(context.get(), command) ? 1 : 0;
  }
}
