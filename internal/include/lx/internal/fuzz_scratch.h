// A temporary directory for a fuzz target's machine (its registry file).
// The machine is booted once and never shut down, since the fuzzer ends the
// process with exit(); the directory goes at that exit, so runs do not pile
// directories up in /tmp.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace lx::fuzz {

// Made once per process under /tmp as `prefix`-XXXXXX; aborts when it
// cannot be made. Called from the target's one-time machine boot.
inline const std::string& scratchDirectory(const char* prefix) {
    static std::string directory;
    if (directory.empty()) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        directory = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        });
    }
    return directory;
}

}  // namespace lx::fuzz
