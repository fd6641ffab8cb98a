#include "command_line.h"

#include <cstdint>
#include <cstdio>
#include <set>

namespace lxm {

namespace {
const std::set<std::string> kValueOptions = {"--dir", "--config", "--signature", "--revision", "--switch"};
const std::set<std::string> kFlags = {"--json", "--surprise", "--port", "--help"};
}  // namespace

std::optional<CommandLine> parseCommandLine(int argc, char** argv, std::string* error) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            std::string value;
            bool inlineValue = false;
            if (auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
            if (kValueOptions.contains(arg)) {
                if (!inlineValue) {
                    if (i + 1 >= argc) {
                        *error = "option " + arg + " needs a value";
                        return std::nullopt;
                    }
                    value = argv[++i];
                }
                line.options[arg] = value;
            } else if (kFlags.contains(arg) && !inlineValue) {
                line.options[arg] = "";
            } else {
                *error = "unknown option " + arg;
                return std::nullopt;
            }
        } else if (arg == "-h") {
            line.options["--help"] = "";
        } else if (line.verb.empty()) {
            line.verb = arg;
        } else {
            line.words.push_back(arg);
        }
    }
    return line;
}

bool parseYesNo(const std::string& text, bool* value) {
    if (text == "yes") *value = true;
    else if (text == "no") *value = false;
    else return false;
    return true;
}

bool parseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* value) {
    if (text.empty() || text.size() > 12) return false;
    unsigned long long v = 0;
    int consumed = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (std::sscanf(text.c_str(), hex ? "%llx%n" : "%llu%n", &v, &consumed) != 1 ||
        consumed != static_cast<int>(text.size()) || text[0] == '-' || text[0] == '+')
        return false;
    if (v < low || v > high) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool parseDisplayMode(const std::string& text, uint32_t* width, uint32_t* height, uint32_t* bits) {
    auto x1 = text.find('x');
    auto x2 = x1 == std::string::npos ? x1 : text.find('x', x1 + 1);
    if (x2 == std::string::npos) return false;
    return parseNumber(text.substr(0, x1), 16, 8192, width) &&
           parseNumber(text.substr(x1 + 1, x2 - x1 - 1), 16, 8192, height) &&
           parseNumber(text.substr(x2 + 1), 8, 32, bits) &&
           (*bits == 8 || *bits == 15 || *bits == 16 || *bits == 24 || *bits == 32);
}

}  // namespace lxm
