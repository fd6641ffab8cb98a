// Drawing where the compat layer has no GDI drawing: no palette, no copies.
#include "democommon/palette.h"

namespace demo {

PaletteHandle createGreyPalette() { return nullptr; }
void deletePalette(PaletteHandle) {}
PaletteHandle selectPalette(HDC, PaletteHandle) { return nullptr; }
bool drawImage(HDC, const DisplayImage&, PaletteHandle) { return false; }
bool drawImageScaled(HDC, const DisplayImage&, PaletteHandle, int, int, int, int) { return false; }
bool fillBackground(HDC, int, int, int, int) { return false; }

}  // namespace demo
