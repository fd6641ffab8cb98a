// Parsing of lxmachine's command line: a verb, its words and its options.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lxm {

struct CommandLine {
    std::string verb;
    std::vector<std::string> words;              // positional arguments after the verb
    std::map<std::string, std::string> options;  // "--dir" -> value; flags map to ""
};

// Options that take a value; all others are flags. Returns nothing (and a
// message) for an unknown option or a missing value.
std::optional<CommandLine> parseCommandLine(int argc, char** argv, std::string* error);

// "yes"/"no" and numbers (decimal or 0x hex) for option values.
bool parseYesNo(const std::string& text, bool* value);
bool parseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* value);
// "1024x768x32"
bool parseDisplayMode(const std::string& text, uint32_t* width, uint32_t* height, uint32_t* bits);

}  // namespace lxm
