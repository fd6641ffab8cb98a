// --window WxH[+X+Y]: the picture's size, and optionally where in the source
// picture it is cut from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lxsnap {

struct WindowGeometry {
  int32_t width = 640;
  int32_t height = 480;  // a frame height, both fields
  // Without an origin the whole source picture is scaled to width x height;
  // with one, a width x height piece at (x, y) is taken unscaled.
  bool hasOrigin = false;
  int32_t x = 0;
  int32_t y = 0;
};

// Nothing when the text is not WxH or WxH+X+Y with decimal numbers. The
// ranges are the API's to judge.
std::optional<WindowGeometry> parseWindowGeometry(const std::string& text);
std::string toString(const WindowGeometry& geometry);

}  // namespace lxsnap
