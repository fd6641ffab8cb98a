// The machine's configuration file (TOML). Parsing is all or nothing: a
// syntax error, a value of the wrong type or range, or an unknown key gives
// an error naming the file, the line and the key, and no configuration.
#pragma once

#include <string>
#include <string_view>

#include "lxmachine/machine_config.h"

namespace lxm {

bool parseMachineConfig(std::string_view text, const std::string& sourceName, MachineConfig* config,
                        std::string* error);
bool loadMachineConfig(const std::string& path, MachineConfig* config, std::string* error);

// The file written into a new machine directory: every key with its default.
std::string defaultMachineConfigText();

}  // namespace lxm
