#include "democommon/single_instance.h"

namespace demo {

SingleInstance::SingleInstance(const char* mutexName) {
  mutex_ = CreateMutexA(nullptr, FALSE, mutexName);
  first_ = mutex_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

SingleInstance::~SingleInstance() {
  if (mutex_) CloseHandle(mutex_);
}

}  // namespace demo
