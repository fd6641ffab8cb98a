// Keeps the I2C traffic of one card in one piece within the process. A
// transfer is a run of separate register requests; two threads driving the
// same card's engine at once would mix their bytes on the bus. Every
// primitive holds the lock for its transaction, and the command channel for
// a whole command with its status check. The lock is recursive, so a holder
// may call the primitives. Processes are not serialised against each other.
#pragma once

#include <mutex>

#include "lx/internal/tern_card_context.h"

namespace terncard {

class I2cBusLock {
 public:
  explicit I2cBusLock(const TernCardContext* context);

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

}  // namespace terncard
