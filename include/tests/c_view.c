/* The public headers compiled as C11; reports what C sees of them. */
#include "all_public_headers.h"
#include "c_view.h"

int lxCViewFacts(int64_t* facts, int capacity) {
  int count = 0;
#define FACT(expression)                                         \
  if (count < capacity) facts[count] = (int64_t)(expression); \
  ++count;
#include "facts.inc"
#undef FACT
  return count;
}
