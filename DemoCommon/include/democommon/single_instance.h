// The single-instance rule: a named mutex of the machine, created (not
// owned) at start; when it already existed another copy runs.
#pragma once

#include <windows.h>

namespace demo {

class SingleInstance {
 public:
  explicit SingleInstance(const char* mutexName);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another copy holds the name (or the mutex cannot be made).
  bool first() const { return first_; }

 private:
  HANDLE mutex_ = nullptr;
  bool first_ = false;
};

}  // namespace demo
