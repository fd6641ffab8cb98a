#include "profile/ini_text.h"

#include <strings.h>

namespace lx::win32::profile {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

IniText IniText::parse(std::string_view text) {
  IniText ini;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    Line line;
    line.raw = std::string(trim(raw).empty() ? std::string_view{} : raw);
    if (!line.raw.empty() && line.raw.back() == '\r') line.raw.pop_back();
    const std::string_view body = trim(line.raw);
    if (body.size() >= 2 && body.front() == '[') {
      const size_t close = body.find(']');
      if (close != std::string_view::npos) {
        line.header = true;
        line.section = std::string(trim(body.substr(1, close - 1)));
      }
    } else if (!body.empty() && body.front() != ';' && body.front() != '#') {
      const size_t equals = body.find('=');
      if (equals != std::string_view::npos) line.key = std::string(trim(body.substr(0, equals)));
    }
    ini.lines_.push_back(std::move(line));
  }
  return ini;
}

std::string IniText::text() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.raw;
    out += '\n';
  }
  return out;
}

bool IniText::findSection(std::string_view section, size_t* first, size_t* last) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!lines_[i].header || !sameName(lines_[i].section, section)) continue;
    size_t j = i + 1;
    while (j < lines_.size() && !lines_[j].header) ++j;
    *first = i;
    *last = j;
    return true;
  }
  return false;
}

std::optional<std::string> IniText::value(std::string_view section, std::string_view key) const {
  size_t first = 0, last = 0;
  if (!findSection(section, &first, &last)) return std::nullopt;
  for (size_t i = first + 1; i < last; ++i) {
    if (lines_[i].key.empty() || !sameName(lines_[i].key, key)) continue;
    std::string_view body = trim(lines_[i].raw);
    std::string_view v = trim(body.substr(body.find('=') + 1));
    // Windows drops one pair of enclosing quotes.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return std::string(v);
  }
  return std::nullopt;
}

std::vector<std::string> IniText::keys(std::string_view section) const {
  std::vector<std::string> names;
  size_t first = 0, last = 0;
  if (!findSection(section, &first, &last)) return names;
  for (size_t i = first + 1; i < last; ++i)
    if (!lines_[i].key.empty()) names.push_back(lines_[i].key);
  return names;
}

void IniText::set(std::string_view section, std::string_view key, std::string_view value) {
  Line line;
  line.key = std::string(key);
  line.raw = std::string(key) + "=" + std::string(value);
  size_t first = 0, last = 0;
  if (!findSection(section, &first, &last)) {
    if (!lines_.empty() && !lines_.back().raw.empty()) lines_.push_back(Line{});
    Line header;
    header.header = true;
    header.section = std::string(section);
    header.raw = "[" + header.section + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(line));
    return;
  }
  size_t insertAt = first + 1;
  for (size_t i = first + 1; i < last; ++i) {
    if (!lines_[i].key.empty() && sameName(lines_[i].key, key)) {
      lines_[i].raw = std::string(lines_[i].key) + "=" + std::string(value);
      return;
    }
    if (!trim(lines_[i].raw).empty()) insertAt = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

void IniText::removeKey(std::string_view section, std::string_view key) {
  size_t first = 0, last = 0;
  if (!findSection(section, &first, &last)) return;
  for (size_t i = first + 1; i < last; ++i) {
    if (!lines_[i].key.empty() && sameName(lines_[i].key, key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void IniText::removeSection(std::string_view section) {
  size_t first = 0, last = 0;
  if (!findSection(section, &first, &last)) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.begin() + static_cast<std::ptrdiff_t>(last));
}

}  // namespace lx::win32::profile
