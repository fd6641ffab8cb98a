#include "democommon/video_formats.h"

namespace demo {

int bitsPerPixel(int videoFormat) {
  switch (videoFormat) {
    case 0: return 16;
    case 1: return 24;
    case 2: return 16;
    case 3: return 15;
    case 4: return 32;
    case 5:
    case 6: return 8;
    default: return 0;
  }
}

int formatForDepth(int depth) {
  switch (depth) {
    case 8: return 6;
    case 15: return 3;
    case 16: return 2;
    case 24: return 1;
    case 32: return 4;
    default: return -1;
  }
}

bool sourceOfFlat(int flat, int* kind, int* number) {
  if (flat >= 0 && flat <= 5) {
    *kind = 0;
    *number = flat;
  } else if (flat >= 6 && flat <= 8) {
    *kind = 1;
    *number = flat - 6;
  } else if (flat >= 9 && flat <= 10) {
    *kind = 2;
    *number = flat - 9;
  } else {
    return false;
  }
  return true;
}

int flatOfSource(int kind, int number) {
  switch (kind) {
    case 0: return number;
    case 1: return number + 6;
    case 2: return number + 9;
    default: return -1;
  }
}

int frameWidthOf(int standard) { return standard == 1 ? 640 : 768; }
int frameHeightOf(int standard) { return standard == 1 ? 480 : 576; }

}  // namespace demo
