// The machine daemon: boots the kernel, serves client processes, their
// threads and the control tool on the machine's socket, and powers the
// kernel off and on again for a reboot.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "nt/kernel_host.h"

namespace lxm {

using KernelBoot = std::function<std::unique_ptr<nt::Kernel>(const nt::BootOptions&, std::string*)>;

struct DaemonOptions {
    std::string directory;        // private machine directory (socket, registry)
    std::string configPath;       // read at boot and at every reboot
    std::string driverDirectory;  // passed to the kernel
    KernelBoot bootKernel;
};

class Daemon {
public:
    // Reads the configuration, binds the socket and boots the kernel; nothing
    // is left behind on failure.
    static std::unique_ptr<Daemon> start(const DaemonOptions& options, std::string* error);
    virtual ~Daemon() = default;

    // Serves until a shutdown request or wake(); then powers off and returns.
    virtual void serve() = 0;
    // Async-signal-safe: asks serve() to shut the machine down.
    virtual void wake() = 0;
};

}  // namespace lxm
