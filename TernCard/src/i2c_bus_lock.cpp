#include "i2c_bus_lock.h"

#include <array>

namespace terncard {

namespace {

// By card number: every context of one card (a card may be opened more than
// once) shares its lock. Cards whose numbers meet modulo the table size
// share one too, which only serialises them.
constexpr size_t kBusLocks = 32;

std::recursive_mutex& busLockOf(uint16_t cardNumber) {
  static std::array<std::recursive_mutex, kBusLocks> locks;
  return locks[cardNumber % kBusLocks];
}

}  // namespace

I2cBusLock::I2cBusLock(const TernCardContext* context) : lock_(busLockOf(context->cardNumber)) {}

}  // namespace terncard
