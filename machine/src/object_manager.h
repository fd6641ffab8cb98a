// Named objects shared between processes: page-file backed file mappings and
// mutexes. An object lives while any process holds a handle to it; a process
// that goes away releases its handles and abandons the mutexes it owns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lxmachine/unique_fd.h"

namespace lxm {

// Win32 error codes the object manager answers with.
namespace win32err {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kNotOwner = 288;
inline constexpr uint32_t kOperationAborted = 995;
inline constexpr uint32_t kProcessAborted = 1067;
inline constexpr uint32_t kNotEnoughQuota = 1816;
}  // namespace win32err

inline constexpr uint32_t kWaitObject0 = 0x00000000;
inline constexpr uint32_t kWaitAbandoned = 0x00000080;
inline constexpr uint32_t kWaitTimeout = 0x00000102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

enum class ObjectKind { Mapping, Mutex };

struct ObjectResult {
    uint32_t error = win32err::kSuccess;  // kAlreadyExists still hands out a handle
    uint64_t handle = 0;
    uint64_t size = 0;  // mappings
    UniqueFd fd;        // mappings: a duplicate of the object's memfd
};

struct ObjectSummary {
    std::string name;
    ObjectKind kind;
    uint64_t size;
    uint32_t handles;
    uint32_t ownerProcess;  // mutexes: 0 when free
};

class ObjectManager {
public:
    // Per process: handles it holds, and named objects it created that still
    // exist. Past either, a create or open fails with kNotEnoughQuota.
    void setLimits(uint32_t handlesPerProcess, uint32_t createdPerProcess);

    // Processes and threads are named by the daemon's ids; a thread id is the
    // id of its request connection.
    ObjectResult createMapping(uint32_t process, const std::string& name, uint64_t size);
    ObjectResult openMapping(uint32_t process, const std::string& name);
    ObjectResult createMutex(uint32_t process, uint64_t thread, const std::string& name, bool initialOwner);
    ObjectResult openMutex(uint32_t process, const std::string& name);
    uint32_t close(uint32_t process, uint64_t handle);
    // Returns kWaitObject0, kWaitAbandoned, kWaitTimeout or kWaitFailed (*error then says why).
    uint32_t wait(uint32_t process, uint64_t thread, uint64_t handle, uint32_t timeoutMs, uint32_t* error);
    uint32_t releaseMutex(uint32_t process, uint64_t thread, uint64_t handle);

    // A thread ended: its mutexes are abandoned.
    void threadExited(uint64_t thread);
    // A process ended: its handles are closed, its threads' mutexes abandoned,
    // its waits end, and nothing is created or opened for it any more.
    void processExited(uint32_t process);
    // Wakes and fails every wait (machine going down).
    void cancelAllWaits();

    std::vector<ObjectSummary> objects() const;
    // Handle -> object name of one process.
    std::vector<std::pair<uint64_t, std::string>> handlesOf(uint32_t process) const;

private:
    struct Object {
        std::string name;
        ObjectKind kind;
        uint64_t size = 0;
        UniqueFd memfd;
        uint32_t handles = 0;
        uint32_t creator = 0;
        // Mutex state.
        uint64_t ownerThread = 0;
        uint32_t ownerProcess = 0;
        uint32_t recursion = 0;
        bool abandoned = false;
    };
    struct ProcessHandles {
        uint64_t nextHandle = 1;
        std::map<uint64_t, std::shared_ptr<Object>> handles;
        uint32_t created = 0;  // its objects that still exist
    };

    uint64_t addHandle(uint32_t process, const std::shared_ptr<Object>& object);
    std::shared_ptr<Object> find(uint32_t process, uint64_t handle) const;
    void dropHandle(std::shared_ptr<Object> object);
    void abandonWhere(bool (*match)(const Object&, uint64_t), uint64_t key);
    // kSuccess, or why the process may not take one more handle (or object).
    uint32_t admit(uint32_t process, bool creates) const;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::string, std::shared_ptr<Object>> byName_;
    std::map<uint32_t, ProcessHandles> processes_;
    std::map<uint32_t, bool> gone_;  // processes whose waits must end
    uint64_t cancelGeneration_ = 0;
    uint32_t handleLimit_ = 4096;
    uint32_t createdLimit_ = 256;
};

}  // namespace lxm
