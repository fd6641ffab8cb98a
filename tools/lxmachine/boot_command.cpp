#include "boot_command.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "control_connection.h"
#include "lxmachine/config_file.h"
#include "lxmachine/machine_directory.h"

namespace lxm {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBootTimeout = std::chrono::seconds(120);
constexpr auto kStopTimeout = std::chrono::seconds(60);

Daemon* runningDaemon = nullptr;

void onTerminate(int) {
    if (runningDaemon) runningDaemon->wake();
}

std::string driverDirectory() {
    if (const char* env = std::getenv("LX_DRIVER_PATH"); env && *env) return env;
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return ".";
    std::string path(exe, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/')) + "/../lib";
}

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// Waits until a machine answers in the directory (another boot got there first).
bool waitUntilAnswering(const std::string& directory, Clock::time_point deadline) {
    std::string error;
    while (Clock::now() < deadline) {
        if (ControlConnection::open(directory, &error)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

[[noreturn]] void runDaemon(const std::string& directory, const std::string& configPath, const KernelBoot& bootKernel,
                            int lockFd, int reportFd) {
    ::setsid();
    if (::chdir("/") != 0) _exit(1);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    int logFd = ::open(logPathOf(directory).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(logFd >= 0 ? logFd : null, 2);

    std::string error;
    auto daemon = Daemon::start({directory, configPath, driverDirectory(), bootKernel}, &error);
    if (!daemon) {
        std::string message = "E" + error;
        [[maybe_unused]] ssize_t n = ::write(reportFd, message.data(), message.size());
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        _exit(1);
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lockFd, 0) == 0) [[maybe_unused]] ssize_t n = ::pwrite(lockFd, pid.data(), pid.size(), 0);

    runningDaemon = daemon.get();
    struct sigaction action{};
    action.sa_handler = onTerminate;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);

    [[maybe_unused]] ssize_t n = ::write(reportFd, "K", 1);
    ::close(reportFd);
    daemon->serve();
    runningDaemon = nullptr;
    daemon.reset();
    std::fflush(stderr);
    std::exit(0);
}

}  // namespace

int bootMachine(const std::string& directory, const std::string& configFile, const KernelBoot& bootKernel) {
    std::string error;
    if (!checkPrivateDirectory(directory, true, &error)) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return 1;
    }
    std::string configPath = configFile.empty() ? configPathOf(directory) : absolute(configFile);
    if (configFile.empty() && ::access(configPath.c_str(), F_OK) != 0) {
        std::ofstream out(configPath);
        out << defaultMachineConfigText();
        if (!out) {
            std::fprintf(stderr, "lxmachine: cannot write %s\n", configPath.c_str());
            return 1;
        }
    }
    MachineConfig config;
    if (!loadMachineConfig(configPath, &config, &error)) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return 1;
    }

    int lockFd = ::open(lockPathOf(directory).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) {
        std::fprintf(stderr, "lxmachine: cannot open %s: %s\n", lockPathOf(directory).c_str(), std::strerror(errno));
        return 1;
    }
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        if (waitUntilAnswering(directory, Clock::now() + kBootTimeout)) {
            std::printf("machine already running at %s\n", directory.c_str());
            return 0;
        }
        std::fprintf(stderr, "lxmachine: a machine holds %s but does not answer\n", directory.c_str());
        return 1;
    }

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        std::perror("lxmachine: pipe");
        return 1;
    }
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        std::perror("lxmachine: fork");
        return 1;
    }
    if (child == 0) {
        ::close(report[0]);
        runDaemon(directory, configPath, bootKernel, lockFd, report[1]);
    }
    ::close(report[1]);
    ::close(lockFd);

    std::string message;
    auto deadline = Clock::now() + kBootTimeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{report[0], POLLIN, 0};
        int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            ::close(report[0]);
            std::fprintf(stderr, "lxmachine: the machine did not boot in time\n");
            return 1;
        }
        char buffer[512];
        ssize_t n = ::read(report[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message.append(buffer, static_cast<size_t>(n));
    }
    ::close(report[0]);
    if (message == "K") {
        std::printf("machine booted at %s (pid %d)\n", directory.c_str(), static_cast<int>(child));
        return 0;
    }
    ::waitpid(child, nullptr, 0);
    std::fprintf(stderr, "lxmachine: %s\n",
                 message.size() > 1 ? message.substr(1).c_str() : "the machine stopped while booting");
    return 1;
}

int shutdownMachine(const std::string& directory) {
    std::string error;
    auto connection = ControlConnection::open(directory, &error);
    if (!connection) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return 1;
    }
    auto reply = connection->call(wire::Op::Shutdown, {}, 10000, &error);
    if (!reply) {
        std::fprintf(stderr, "lxmachine: %s\n", error.c_str());
        return 1;
    }
    auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(kStopTimeout).count();
    if (!connection->waitForClose(static_cast<int>(stopMs))) {
        std::fprintf(stderr, "lxmachine: the machine did not power off in time\n");
        return 1;
    }
    // The daemon holds the lock until its very end.
    int lockFd = ::open(lockPathOf(directory).c_str(), O_RDWR | O_CLOEXEC);
    if (lockFd >= 0) {
        auto deadline = Clock::now() + kStopTimeout;
        bool freed = false;
        while (!(freed = ::flock(lockFd, LOCK_EX | LOCK_NB) == 0) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::close(lockFd);
        if (!freed) {
            std::fprintf(stderr, "lxmachine: the machine did not exit in time\n");
            return 1;
        }
    }
    if (::access(crashPathOf(directory).c_str(), F_OK) == 0) {
        std::fprintf(stderr, "lxmachine: the machine stopped on a bug check while powering off; see %s\n",
                     crashPathOf(directory).c_str());
        return 1;
    }
    std::printf("machine at %s powered off\n", directory.c_str());
    return 0;
}

}  // namespace lxm
