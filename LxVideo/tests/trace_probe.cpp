// Counts and opens cards, printing the results on standard output; the
// trace test runs it without a machine and reads its standard error.
#include <cstdio>

#include "lx/video.h"

int main() {
  int32_t total = -1;
  const LxStatus countStatus = LxGetCardTotal(&total);
  LxCardHandle handle{};
  const LxStatus beginStatus = BeginLxCard(1, &handle);
  std::printf("total %d %d begin %d\n", countStatus, total, beginStatus);
  return 0;
}
