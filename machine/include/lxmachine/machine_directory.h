// Where a machine lives: one private directory per machine holding its
// socket, its configuration and its persistent registry.
#pragma once

#include <string>

#include "lxmachine/unique_fd.h"

namespace lxm {

// --dir if given, else $LX_MACHINE, else $XDG_RUNTIME_DIR/lxmachine, else /tmp/lxmachine-$UID.
std::string resolveMachineDirectory(const char* explicitDirectory);

std::string socketPathOf(const std::string& directory);
std::string configPathOf(const std::string& directory);
std::string registryPathOf(const std::string& directory);
std::string lockPathOf(const std::string& directory);
std::string logPathOf(const std::string& directory);
// The record of the bug check that stopped the machine (JSON), kept until
// the next boot moves it to previousCrashPathOf.
std::string crashPathOf(const std::string& directory);
std::string previousCrashPathOf(const std::string& directory);

// The directory must be a real directory owned by us with no access for
// group or others. With `create`, a missing one is made with mode 0700.
bool checkPrivateDirectory(const std::string& directory, bool create, std::string* error);

// Connects to the machine's socket; an invalid fd and *error when no machine
// answers there or the directory is not private.
UniqueFd connectToMachine(const std::string& directory, std::string* error);

}  // namespace lxm
