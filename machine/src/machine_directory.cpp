#include "lxmachine/machine_directory.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lxm {

std::string resolveMachineDirectory(const char* explicitDirectory) {
    if (explicitDirectory && *explicitDirectory) return explicitDirectory;
    if (const char* env = std::getenv("LX_MACHINE"); env && *env) return env;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return std::string(xdg) + "/lxmachine";
    return "/tmp/lxmachine-" + std::to_string(::getuid());
}

std::string socketPathOf(const std::string& d) { return d + "/socket"; }
std::string configPathOf(const std::string& d) { return d + "/machine.toml"; }
std::string registryPathOf(const std::string& d) { return d + "/registry.dat"; }
std::string lockPathOf(const std::string& d) { return d + "/daemon.lock"; }
std::string logPathOf(const std::string& d) { return d + "/daemon.log"; }
std::string crashPathOf(const std::string& d) { return d + "/crash.json"; }
std::string previousCrashPathOf(const std::string& d) { return d + "/crash.previous.json"; }

bool checkPrivateDirectory(const std::string& directory, bool create, std::string* error) {
    struct stat st{};
    if (::lstat(directory.c_str(), &st) != 0) {
        if (errno != ENOENT || !create) {
            *error = "machine directory " + directory + ": " + std::strerror(errno);
            return false;
        }
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create machine directory " + directory + ": " + std::strerror(errno);
            return false;
        }
        if (::lstat(directory.c_str(), &st) != 0) {
            *error = "machine directory " + directory + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = "machine directory " + directory + " is not a directory";
        return false;
    }
    if (st.st_uid != ::getuid()) {
        *error = "machine directory " + directory + " belongs to uid " + std::to_string(st.st_uid) +
                 ", not to uid " + std::to_string(::getuid());
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        *error = "machine directory " + directory + " is accessible to others (mode " + mode + ", needs 0700)";
        return false;
    }
    return true;
}

UniqueFd connectToMachine(const std::string& directory, std::string* error) {
    if (!checkPrivateDirectory(directory, false, error)) return {};
    std::string path = socketPathOf(directory);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = std::string("socket: ") + std::strerror(errno);
        return {};
    }
    while (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) continue;
        *error = "no machine at " + directory + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

}  // namespace lxm
