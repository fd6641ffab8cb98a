// Internal: the lines of an INI file, edited in place so that comments,
// blank lines and the order of sections and keys survive a write.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lx::win32::profile {

class IniText {
 public:
  static IniText parse(std::string_view text);
  std::string text() const;

  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  std::vector<std::string> keys(std::string_view section) const;
  void set(std::string_view section, std::string_view key, std::string_view value);
  void removeKey(std::string_view section, std::string_view key);
  void removeSection(std::string_view section);

 private:
  struct Line {
    std::string raw;
    std::string section;  // for a section header: its name
    std::string key;      // for a key line: its name
    bool header = false;
  };
  // [first, last) lines of a section: its header and its body.
  bool findSection(std::string_view section, size_t* first, size_t* last) const;

  std::vector<Line> lines_;
};

}  // namespace lx::win32::profile
