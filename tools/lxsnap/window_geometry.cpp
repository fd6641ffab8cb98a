#include "window_geometry.h"

#include <charconv>

namespace lxsnap {

namespace {

// Reads a decimal number at `at`; digits only, at most 5 of them.
bool readNumber(const std::string& text, size_t* at, int32_t* value) {
  const char* first = text.data() + *at;
  const char* last = text.data() + text.size();
  if (first == last || *first < '0' || *first > '9') {
    return false;
  }
  const auto [end, error] = std::from_chars(first, last, *value);
  if (error != std::errc() || end - first > 5) {
    return false;
  }
  *at = static_cast<size_t>(end - text.data());
  return true;
}

bool readChar(const std::string& text, size_t* at, char wanted) {
  if (*at >= text.size() || text[*at] != wanted) {
    return false;
  }
  ++*at;
  return true;
}

}  // namespace

std::optional<WindowGeometry> parseWindowGeometry(const std::string& text) {
  WindowGeometry geometry;
  size_t at = 0;
  if (!readNumber(text, &at, &geometry.width) || !readChar(text, &at, 'x') ||
      !readNumber(text, &at, &geometry.height)) {
    return std::nullopt;
  }
  if (at == text.size()) {
    return geometry;
  }
  geometry.hasOrigin = true;
  if (!readChar(text, &at, '+') || !readNumber(text, &at, &geometry.x) || !readChar(text, &at, '+') ||
      !readNumber(text, &at, &geometry.y) || at != text.size()) {
    return std::nullopt;
  }
  return geometry;
}

std::string toString(const WindowGeometry& geometry) {
  std::string text = std::to_string(geometry.width) + "x" + std::to_string(geometry.height);
  if (geometry.hasOrigin) {
    text += "+" + std::to_string(geometry.x) + "+" + std::to_string(geometry.y);
  }
  return text;
}

}  // namespace lxsnap
