#include "stack_machine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "lx/hmb_control_codes.h"

extern char** environ;

namespace hmbtest {

StackMachine::StackMachine(const std::string& config) : machine_(LX_STACK_TOOL, config) {
    ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
    booted_ = machine_.boot();
}

StackMachine::~StackMachine() = default;  // the private machine powers off

bool StackMachine::reboot() { return machine_.lxmachine({"reboot"}).exitStatus == 0; }
bool StackMachine::shutdown() { return machine_.shutdown(); }
bool StackMachine::boot() { return machine_.boot(); }
bool StackMachine::setDisplay(const std::string& mode) {
    return machine_.lxmachine({"display", mode}).exitStatus == 0;
}

namespace {

HKEY openParameters(REGSAM access) {
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, HMB_PARAMETERS_KEY, 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
}

size_t countBetween(const std::string& text, const std::string& what, size_t from, size_t to) {
    size_t count = 0;
    for (size_t at = text.find(what, from); at != std::string::npos && at < to; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

bool readParameter(const char* name, uint32_t* value) {
    HKEY key = openParameters(KEY_READ);
    if (key == nullptr) return false;
    DWORD type = 0, size = sizeof *value;
    const bool ok = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                        ERROR_SUCCESS &&
                    type == REG_DWORD && size == 4;
    RegCloseKey(key);
    return ok;
}

bool writeParameter(const char* name, uint32_t value) {
    HKEY key = openParameters(KEY_ALL_ACCESS);
    if (key == nullptr) return false;
    const bool ok =
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool deleteParameter(const char* name) {
    HKEY key = openParameters(KEY_ALL_ACCESS);
    if (key == nullptr) return false;
    const bool ok = RegDeleteValueA(key, name) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

size_t processBlockCount(const std::string& json) {
    // Blocks of processes are the "physical" entries between the process
    // list and the system section.
    const size_t from = json.find("\"processes\":[");
    const size_t to = json.find("\"system\":");
    if (from == std::string::npos || to == std::string::npos) return SIZE_MAX;
    size_t blocks = 0;
    for (size_t at = json.find("\"contiguous\":[", from); at != std::string::npos && at < to;
         at = json.find("\"contiguous\":[", at + 1)) {
        const size_t end = json.find(']', at);
        blocks += countBetween(json, "\"physical\":", at, end);
    }
    return blocks;
}

uint64_t contiguousFreeBytes(const std::string& json) {
    const std::string key = "\"contiguousFreeBytes\":";
    const size_t at = json.find(key);
    return at == std::string::npos ? 0 : std::strtoull(json.c_str() + at + key.size(), nullptr, 10);
}

lxm::testing::ToolResult runPeer(const std::vector<std::string>& commands) {
    std::vector<std::string> argv{LX_HMB_PEER};
    argv.insert(argv.end(), commands.begin(), commands.end());
    return lxm::testing::runProgram(argv, 60);
}

HoldingPeer::HoldingPeer(const std::vector<std::string>& commands) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> args{LX_HMB_PEER};
    args.insert(args.end(), commands.begin(), commands.end());
    args.push_back("hold");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[512];
    while (pid_ > 0 && output_.find("holding") == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            output_.clear();
            break;
        }
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output_.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
}

void HoldingPeer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

HoldingPeer::~HoldingPeer() { kill(); }

}  // namespace hmbtest
