// The line-stamp video source's names, "stamp" and "stamp:ID" (ID 0 to 255
// in decimal), read the same by the configuration, the lxmachine tool and
// the card model.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lxm {

// The source ID a stamp name asks for ("stamp" alone is ID 0); nothing for
// any other name.
inline std::optional<uint8_t> stampSourceId(std::string_view name) {
    constexpr std::string_view kPrefix = "stamp";
    if (name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    name.remove_prefix(kPrefix.size());
    if (name.empty()) return uint8_t{0};
    if (name.front() != ':' || name.size() < 2 || name.size() > 4) return std::nullopt;
    unsigned id = 0;
    for (char c : name.substr(1)) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + static_cast<unsigned>(c - '0');
    }
    if (id > 255) return std::nullopt;
    return static_cast<uint8_t>(id);
}

}  // namespace lxm
