// Internal: a handle made by CreateFileA. Device paths are files of the
// machine's kernel; any other path is a file of the host.
#pragma once

#include <atomic>

#include "handle_table.h"
#include "lxmachine/unique_fd.h"

namespace lx::win32::client {

class DeviceFile final : public KernelObject {
public:
    DeviceFile(uint64_t attachment, uint64_t kernelFile)
        : KernelObject(HandleKind::DeviceFile), attachment_(attachment), kernelFile_(kernelFile) {}
    ~DeviceFile() override;
    // Closing sends cleanup and close to the driver, which cancels requests of
    // this file still pending on other threads.
    BOOL onClose() override;

    uint64_t attachment() const { return attachment_; }
    uint64_t kernelFile() const { return kernelFile_; }

private:
    bool closeInKernel();
    const uint64_t attachment_;
    const uint64_t kernelFile_;
    std::atomic<bool> closed_{false};
};

class HostFile final : public KernelObject {
public:
    explicit HostFile(lxm::UniqueFd fd) : KernelObject(HandleKind::File), fd_(std::move(fd)) {}
    int fd() const { return fd_.get(); }

private:
    lxm::UniqueFd fd_;
};

}  // namespace lx::win32::client
