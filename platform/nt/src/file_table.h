// Files opened by user processes: handles, the IRPs that carry their
// requests (buffered through a system buffer), cleanup and close, and the
// requests still in flight so that a process that goes away can cancel them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ntddk.h"
#include "nt/kernel_host.h"

namespace nt {

class ObjectNamespace;
class PnpManager;

class FileTable {
public:
    FileTable(ObjectNamespace& objects, PnpManager& pnp);

    NTSTATUS create(UserProcess& process, const std::string& path, uint64_t* handle);
    NTSTATUS close(UserProcess& process, uint64_t handle);
    NTSTATUS deviceControl(UserProcess& process, uint64_t handle, uint32_t code, const void* input,
                           uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* information);
    NTSTATUS read(UserProcess& process, uint64_t handle, void* buffer, uint32_t length, uint32_t* information);
    NTSTATUS write(UserProcess& process, uint64_t handle, const void* buffer, uint32_t length, uint32_t* information);
    // The exit is a barrier: from its start the process's calls are refused,
    // the ones already inside are cancelled and waited for, then its files
    // are closed. Nothing is opened for it afterwards.
    void processExited(UserProcess& process);
    // Power off: every request in flight is cancelled.
    void cancelAll();
    // Power off, once cancelled requests had their time: the callers of the
    // ones still in flight stop waiting (logged with driver and request).
    void abandonAll();
    // Power off: every file still open is cleaned up and closed.
    void closeAll();

    struct HandleInfo {
        uint32_t processId;
        uint64_t handle;
        std::string path;
        std::string device;
    };
    std::vector<HandleInfo> handles() const;

private:
    struct OpenFile {
        uint64_t handle = 0;
        uint32_t processId = 0;
        std::string path;
        PFILE_OBJECT file = nullptr;
        PDEVICE_OBJECT device = nullptr;
        std::atomic<int> references{1};  // the handle plus each request in flight
    };
    using FilePtr = std::shared_ptr<OpenFile>;

    FilePtr lookup(uint32_t processId, uint64_t handle);
    void release(const FilePtr& file, UserProcess* process);
    NTSTATUS transfer(UserProcess& process, uint64_t handle, UCHAR major, uint32_t code, const void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* information);
    // Nullopt when the request was abandoned: its IRP, buffers and file
    // object stay with the driver and must not be freed.
    std::optional<IO_STATUS_BLOCK> send(UserProcess& process, const FilePtr& file,
                                        const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare);
    // Gives up the requests in flight of `pid` (all when 0); inFlightMutex_ held.
    void abandonLocked(uint32_t pid);
    NTSTATUS closeFile(const FilePtr& file, UserProcess* process);
    // Admission of one call of a process; false once its exit has begun.
    bool beginCall(uint32_t processId);
    void endCall(uint32_t processId);
    class Call;

    ObjectNamespace& objects_;
    PnpManager& pnp_;
    mutable std::mutex mutex_;
    std::map<uint64_t, FilePtr> files_;
    uint64_t nextHandle_ = 0x100;
    std::mutex inFlightMutex_;  // held while a request is being cancelled
    struct InFlight {
        PIRP irp;
        PDEVICE_OBJECT device;
    };
    std::multimap<uint32_t, InFlight> inFlight_;
    // Guarded by inFlightMutex_.
    std::set<uint32_t> exiting_;
    std::map<uint32_t, int> callsInside_;
    std::condition_variable callLeft_;
};

}  // namespace nt
