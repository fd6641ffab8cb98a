// COperateSystemInfo: the operating system the program runs on, from the
// compat layer's version query.
#pragma once

#include <windows.h>

namespace demo {

class COperateSystemInfo {
 public:
  COperateSystemInfo();

  // -1 when the query failed; else by version: 4.0 NT 0 (1 on platform 1),
  // 4.10 2, 4.90 3, 5.0 4, 5.1 5, and for workstations 6.0 6, 6.1 7, 6.2 8;
  // every other version -1. Codes 7 and 8 have no live capture.
  int GetOsCode() const;
  // The older consumer family: the top bit of the version query's platform.
  bool consumerFamily() const { return queried_ && version_.dwPlatformId == 1; }

  const OSVERSIONINFOEXA& version() const { return version_; }
  // The code of a version record.
  static int osCodeOf(const OSVERSIONINFOEXA& version);

 private:
  struct ProcessorRecord {
    DWORD processorCount = 0;
    DWORD pageSize = 0;
  } processor_;  // filled, not used
  OSVERSIONINFOEXA version_{};
  bool queried_ = false;
};

}  // namespace demo
