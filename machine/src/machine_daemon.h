// Internal structure of the daemon (see lxmachine/daemon.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "client_process.h"
#include "lxmachine/daemon.h"
#include "lxmachine/frame_socket.h"
#include "lxmachine/machine_config.h"
#include "lxmachine/request.h"
#include "lxmachine/request_channel.h"
#include "object_manager.h"

namespace lxm {

struct Connection {
    uint64_t id = 0;
    UniqueFd socket;
    wire::Role role{};
    std::shared_ptr<ClientProcess> process;  // process and thread connections
    // A thread connection's shared-memory channel, if it asked for one; set
    // under the daemon's state lock before the connection is served.
    std::unique_ptr<channel::RequestChannel> channel;
    bool servingChannel = false;  // replies go through the channel (the connection's own thread only)
    std::atomic<bool> ended{false};  // the daemon let go of the connection
};

class MachineDaemon final : public Daemon {
public:
    explicit MachineDaemon(const DaemonOptions& options) : options_(options) {}
    ~MachineDaemon() override;

    bool powerOn(std::string* error);
    bool listen(std::string* error);
    void serve() override;
    void wake() override;

private:
    bool socketStillOurs() const;
    // Connections. acceptOne returns false when the daemon is out of
    // descriptors (or memory) and should wait before accepting again.
    bool acceptOne();
    bool startConnectionThread(const std::shared_ptr<Connection>& connection);
    void runConnection(std::shared_ptr<Connection> connection);
    void serveProcess(Connection& c, const wire::HelloRecord& hello, uint32_t pid);
    void serveRequests(Connection& c);
    void serveChannel(Connection& c);
    // Sends one frame to a client: through its channel when the connection
    // is served there and the frame fits, else on the socket.
    bool sendToClient(Connection& c, wire::Op op, uint32_t id, wire::FrameParts payload,
                      std::span<const int> fds = {});
    // Ends a connection's service: its socket is shut down and a thread
    // waiting on its channel is woken. Called under stateLock_.
    static void endConnection(Connection& c);
    // A process's own or one of its threads' (read under stateLock_).
    static bool ofProcess(const Connection& c) {
        return c.role == wire::Role::Process || c.role == wire::Role::Thread;
    }
    // `storage` holds the request's payload (`r` points into it); kernel I/O
    // puts its output there, so a large request is not held twice.
    bool handle(Connection& c, const Request& r, std::vector<uint8_t>& storage);
    void processGone(const std::shared_ptr<ClientProcess>& process);
    void disconnectClients();
    bool waitForConnections(bool (*keep)(const Connection&), int timeoutMs);

    // Requests.
    bool reply(Connection& c, uint32_t id, int32_t status, uint32_t information = 0, uint64_t value = 0,
               std::span<const uint8_t> data = {}, std::span<const int> fds = {});
    bool replyText(Connection& c, uint32_t id, int32_t status, const std::string& text);
    void handleKernelIo(Connection& c, const Request& r, std::vector<uint8_t>& storage);
    struct KernelIoResult {
        int32_t status = 0;
        uint32_t information = 0;
        uint64_t value = 0;
        std::span<const uint8_t> data;  // in the request's storage
    };
    KernelIoResult runKernelIo(Connection& c, const Request& r, std::vector<uint8_t>& storage);
    void handleRegistry(Connection& c, const Request& r);
    void handleObject(Connection& c, const Request& r);
    void handleControl(Connection& c, const Request& r);
    // True when [physical, physical + length) lies in the display's frame buffer.
    bool onScreen(uint64_t physical, uint64_t length);
    bool reboot(std::string* error);
    void powerOff();
    // Status says "running" only while the daemon takes clients.
    std::string statusJson();
    std::string statusLine();
    std::string notAcceptingLine() const;

    const DaemonOptions options_;
    UniqueFd listen_;
    UniqueFd wakeRead_, wakeWrite_;
    uint64_t socketInode_ = 0;
    uint64_t socketDevice_ = 0;

    std::shared_timed_mutex kernelLock_;  // shared by requests, exclusive for power changes
    std::unique_ptr<nt::Kernel> kernel_;
    MachineConfig config_;
    std::atomic<uint32_t> bootCount_{0};
    std::atomic<bool> acceptingClients_{false};
    std::atomic<bool> stopRequested_{false};
    std::mutex powerLock_;  // one reboot or shutdown at a time

    ObjectManager objects_;

    std::mutex stateLock_;
    std::condition_variable connectionEnded_;
    std::map<uint64_t, std::shared_ptr<Connection>> connections_;
    std::map<uint64_t, std::shared_ptr<ClientProcess>> processes_;  // by token
    std::atomic<uint64_t> nextConnectionId_{1};
    std::atomic<uint32_t> nextProcessId_{1};
    std::atomic<int> runningThreads_{0};

    // The [limits] of the running boot.
    struct Limits {
        std::atomic<uint32_t> requestBytes{(16u << 20) + 4096};
        std::atomic<uint32_t> helloTimeoutMs{5000};
        std::atomic<uint32_t> connections{1024};
        std::atomic<uint32_t> threadsPerProcess{128};
        std::atomic<uint32_t> viewsPerProcess{1024};
        std::atomic<uint32_t> drainTimeoutMs{20000};
    } limits_;
    int drainTimeoutMs() const { return static_cast<int>(limits_.drainTimeoutMs.load()); }
};

}  // namespace lxm
