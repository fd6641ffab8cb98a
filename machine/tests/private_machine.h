// A private machine for one test program: a fresh 0700 directory, $LX_MACHINE
// pointing at it, the machine booted through the lxmachine tool, and powered
// off (or killed) at the end so that no daemon outlives the test.
#pragma once

#include <string>
#include <vector>

namespace lxm::testing {

struct ToolResult {
    int exitStatus = -1;
    std::string output;  // stdout and stderr together
};

// Runs a program with arguments; bounded by timeoutSeconds (killed after).
ToolResult runProgram(const std::vector<std::string>& argv, int timeoutSeconds = 120,
                      const std::vector<std::string>& extraEnvironment = {});

// Test machines run the driver verifier: `config` with "[kernel] verifier =
// true" added unless it has a [kernel] table of its own.
std::string withVerifier(const std::string& config);

class PrivateMachine {
public:
    // tool: the lxmachine program to use; config: machine.toml text ("" = the
    // tool's default, written at boot), run with the verifier (withVerifier).
    PrivateMachine(std::string tool, const std::string& config = "");
    ~PrivateMachine();

    const std::string& directory() const { return directory_; }
    ToolResult lxmachine(std::vector<std::string> arguments) const;
    bool boot();
    bool shutdown();
    std::string statusJson() const;
    // Pid of the daemon from its lock file, 0 when none.
    int daemonPid() const;
    void writeConfig(const std::string& text) const;

private:
    std::string tool_;
    std::string directory_;
};

std::string makePrivateDirectory();
void removeTree(const std::string& path);
bool processAlive(int pid);

}  // namespace lxm::testing
