#include "private_machine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace lxm::testing {

ToolResult runProgram(const std::vector<std::string>& argv, int timeoutSeconds,
                      const std::vector<std::string>& extraEnvironment) {
    ToolResult result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const auto& e : extraEnvironment) {
        auto name = e.substr(0, e.find('=') + 1);
        std::erase_if(envStrings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
        if (e.back() != '=') envStrings.push_back(e);  // "NAME=" removes NAME
    }
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        result.output = "spawn failed";
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready <= 0) {
            ::kill(pid, SIGKILL);
            result.output += "\n[killed after timeout]";
            break;
        }
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string makePrivateDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lxm-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool processAlive(int pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0) return false;
    // A zombie is gone for our purposes.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close == std::string::npos || line.size() < close + 3 || line[close + 2] != 'Z';
}

PrivateMachine::PrivateMachine(std::string tool, const std::string& config)
    : tool_(std::move(tool)), directory_(makePrivateDirectory()) {
    ::setenv("LX_MACHINE", directory_.c_str(), 1);
    ::setenv("LX_MACHINE_TOOL", tool_.c_str(), 1);
    if (!config.empty()) writeConfig(config);
}

PrivateMachine::~PrivateMachine() {
    if (std::ifstream crash(directory_ + "/crash.json"); crash) {
        std::string record;
        std::getline(crash, record);
        std::fprintf(stderr, "the machine stopped on a bug check: %s\n", record.c_str());
    }
    if (daemonPid() && processAlive(daemonPid())) {
        shutdown();
        int pid = daemonPid();
        if (processAlive(pid)) ::kill(pid, SIGKILL);
    }
    removeTree(directory_);
}

ToolResult PrivateMachine::lxmachine(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), tool_);
    arguments.push_back("--dir");
    arguments.push_back(directory_);
    return runProgram(arguments);
}

bool PrivateMachine::boot() { return lxmachine({"boot"}).exitStatus == 0; }
// A machine that stopped on a bug check (the verifier's included) did not
// shut down cleanly, whatever the tool said; the record is shown.
bool PrivateMachine::shutdown() {
    const bool stopped = lxmachine({"shutdown"}).exitStatus == 0;
    std::ifstream crash(directory_ + "/crash.json");
    std::string record;
    if (!std::getline(crash, record)) return stopped;
    std::fprintf(stderr, "the machine stopped on a bug check: %s\n", record.c_str());
    return false;
}

std::string PrivateMachine::statusJson() const {
    ToolResult r = lxmachine({"status", "--json"});
    return r.exitStatus == 0 ? r.output : std::string();
}

int PrivateMachine::daemonPid() const {
    std::ifstream in(directory_ + "/daemon.lock");
    int pid = 0;
    in >> pid;
    return pid;
}

std::string withVerifier(const std::string& config) {
    if (config.find("[kernel]") != std::string::npos) return config;
    return config + "\n[kernel]\nverifier = true\n";
}

void PrivateMachine::writeConfig(const std::string& text) const {
    std::ofstream out(directory_ + "/machine.toml", std::ios::trunc);
    out << withVerifier(text);
}

}  // namespace lxm::testing
