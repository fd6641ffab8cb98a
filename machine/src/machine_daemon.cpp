#include "machine_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "lxmachine/config_file.h"
#include "lxmachine/machine_directory.h"
#include "lxmachine/nt_status_codes.h"

namespace lxm {

namespace {

// Out of descriptors, the listening socket stays readable: wait this long
// before the next accept instead of spinning on it.
constexpr int kAcceptBackOffMs = 200;
// A hello is one small record.
constexpr uint32_t kMaxHelloPayload = 4096;
constexpr int kDirectoryCheckMs = 1000;
// A channel connection whose client rings nothing looks at its socket this
// often, to notice a client that went away without a word.
constexpr std::chrono::milliseconds kChannelIdleCheck{250};
constexpr size_t kKeptPayloadBytes = 64 * 1024;

// True when the peer closed its end (or the socket failed); data waiting is not a hang-up.
bool socketHungUp(int socket) {
    char byte;
    ssize_t n = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return false;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

uint64_t randomToken() {
    uint64_t token = 0;
    while (token == 0) {
        if (::getrandom(&token, sizeof token, 0) != sizeof token) token = 0;
    }
    return token;
}

void log(const std::string& line) { std::fprintf(stderr, "lxmachine: %s\n", line.c_str()); }

}  // namespace

std::unique_ptr<Daemon> Daemon::start(const DaemonOptions& options, std::string* error) {
    auto daemon = std::make_unique<MachineDaemon>(options);
    // A new power-on starts clean; the last bug check's record stays beside.
    const std::string crash = crashPathOf(options.directory);
    if (::access(crash.c_str(), F_OK) == 0) {
        log("the machine's last run stopped on a bug check (see " + previousCrashPathOf(options.directory) + ")");
        ::rename(crash.c_str(), previousCrashPathOf(options.directory).c_str());
    }
    if (!daemon->listen(error) || !daemon->powerOn(error)) return nullptr;
    return daemon;
}

MachineDaemon::~MachineDaemon() {
    if (listen_.valid()) ::unlink(socketPathOf(options_.directory).c_str());
}

bool MachineDaemon::listen(std::string* error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_.reset(pipeFds[0]);
    wakeWrite_.reset(pipeFds[1]);

    std::string path = socketPathOf(options_.directory);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // The caller holds the machine's lock, so a socket file left here is stale.
    ::unlink(path.c_str());
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 64) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        socketInode_ = st.st_ino;
        socketDevice_ = st.st_dev;
    }
    listen_ = std::move(fd);
    return true;
}

bool MachineDaemon::powerOn(std::string* error) {
    MachineConfig config;
    if (!loadMachineConfig(options_.configPath, &config, error)) return false;
    nt::BootOptions boot;
    boot.config = config;
    boot.registryFile = registryPathOf(options_.directory);
    boot.driverDirectory = options_.driverDirectory;
    boot.crashFile = crashPathOf(options_.directory);
    std::string why;
    auto kernel = options_.bootKernel(boot, &why);
    if (!kernel) {
        *error = "the machine did not boot: " + (why.empty() ? std::string("unknown failure") : why);
        return false;
    }
    std::unique_lock lock(kernelLock_);
    kernel_ = std::move(kernel);
    config_ = config;
    const LimitsConfig& l = config.limits;
    limits_.requestBytes = l.requestBytes;
    limits_.helloTimeoutMs = l.helloTimeoutMs;
    limits_.connections = l.connections;
    limits_.threadsPerProcess = l.threadsPerProcess;
    limits_.viewsPerProcess = l.viewsPerProcess;
    limits_.drainTimeoutMs = config.kernel.drainTimeoutMs;
    objects_.setLimits(l.handlesPerProcess, l.namedObjectsPerProcess);
    bootCount_.fetch_add(1);
    acceptingClients_ = true;
    return true;
}

void MachineDaemon::wake() {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_.get(), &byte, 1);
}

bool MachineDaemon::socketStillOurs() const {
    struct stat st{};
    return ::stat(socketPathOf(options_.directory).c_str(), &st) == 0 && st.st_ino == socketInode_ &&
           st.st_dev == socketDevice_;
}

void MachineDaemon::serve() {
    bool backOff = false;
    while (!stopRequested_.load()) {
        // While backing off only the wake pipe is watched.
        pollfd fds[2] = {{wakeRead_.get(), POLLIN, 0}, {listen_.get(), POLLIN, 0}};
        int ready = ::poll(fds, backOff ? 1 : 2, backOff ? kAcceptBackOffMs : kDirectoryCheckMs);
        if (backOff) {
            backOff = false;
            if (ready == 0) continue;
        }
        if (ready == 0) {
            // Nobody can reach a machine whose directory was removed or taken over.
            if (!socketStillOurs()) {
                log("the machine's socket is gone; powering off");
                break;
            }
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) continue;
            log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents) break;
        if (fds[1].revents & POLLIN) backOff = !acceptOne();
    }
    powerOff();
}

bool MachineDaemon::acceptOne() {
    UniqueFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.valid()) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            log(std::string("accept: ") + std::strerror(errno) + "; backing off");
            return false;
        }
        return true;
    }
    auto connection = std::make_shared<Connection>();
    connection->id = nextConnectionId_.fetch_add(1);
    connection->socket = std::move(fd);
    {
        std::lock_guard lock(stateLock_);
        if (connections_.size() >= limits_.connections.load()) {
            log("refused a connection: " + std::to_string(connections_.size()) + " connections are open");
            return true;
        }
        connections_[connection->id] = connection;
    }
    if (!startConnectionThread(connection)) {
        std::lock_guard lock(stateLock_);
        connections_.erase(connection->id);
    }
    return true;
}

bool MachineDaemon::startConnectionThread(const std::shared_ptr<Connection>& connection) {
    runningThreads_.fetch_add(1);
    try {
        std::thread([this, connection] {
            runConnection(connection);
            {
                std::lock_guard lock(stateLock_);
                connections_.erase(connection->id);
            }
            // Last touch of the daemon by this thread.
            std::lock_guard lock(stateLock_);
            runningThreads_.fetch_sub(1);
            connectionEnded_.notify_all();
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        // Only this connection is refused; the daemon carries on.
        runningThreads_.fetch_sub(1);
        log(std::string("refused a connection: no thread for it: ") + e.what());
        return false;
    }
}

void MachineDaemon::runConnection(std::shared_ptr<Connection> connection) {
    Connection& c = *connection;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(c.socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
        log("refused a connection from uid " + std::to_string(peer.uid));
        return;
    }
    Frame frame;
    std::string why;
    if (receiveFrame(c.socket.get(), &frame, static_cast<int>(limits_.helloTimeoutMs.load()), &why,
                     kMaxHelloPayload) != IoResult::Ok)
        return;
    auto hello = decodeRequest(frame.header, frame.payload, &why);
    if (!hello || hello->op != wire::Op::Hello) {
        log("dropped a connection: " + (why.empty() ? std::string("first frame is not a hello") : why));
        return;
    }
    const auto role = static_cast<wire::Role>(hello->hello.role);
    if (role != wire::Role::Thread) {
        std::lock_guard lock(stateLock_);
        c.role = role;
    }
    switch (role) {
    case wire::Role::Process:
        serveProcess(c, hello->hello, static_cast<uint32_t>(peer.pid));
        return;
    case wire::Role::Thread: {
        std::shared_ptr<ClientProcess> process;
        bool overQuota = false;
        std::unique_ptr<channel::RequestChannel> requestChannel;
        if (hello->hello.flags & wire::kHelloRequestChannel) {
            // Without one the thread is served on its socket alone.
            requestChannel = channel::RequestChannel::create(&why);
            if (!requestChannel) log("a thread connection goes without its channel: " + why);
        }
        {
            std::lock_guard lock(stateLock_);
            auto it = processes_.find(hello->hello.processToken);
            if (it != processes_.end() && it->second->osPid() == static_cast<uint32_t>(peer.pid) &&
                it->second->alive())
                process = it->second;
            if (process) {
                uint32_t threads = 0;
                for (auto& [id, other] : connections_)
                    if (other->process == process && other->role == wire::Role::Thread) ++threads;
                overQuota = threads >= limits_.threadsPerProcess.load();
                // Joined under the lock, so two hellos cannot both take the last place.
                if (!overQuota) {
                    c.process = process;
                    c.role = wire::Role::Thread;
                    c.channel = std::move(requestChannel);
                }
            }
        }
        if (!process || overQuota) {
            reply(c, hello->requestId, overQuota ? ntstatus::kQuotaExceeded : ntstatus::kInvalidHandle);
            return;
        }
        if (c.channel) {
            const channel::ChannelRecord record = c.channel->record();
            const int fd = c.channel->fd();
            if (!reply(c, hello->requestId, ntstatus::kSuccess, process->processId(), process->token(),
                       std::span(reinterpret_cast<const uint8_t*>(&record), sizeof record), std::span(&fd, 1)))
                return;
            c.servingChannel = true;
            serveChannel(c);
            // A client still waiting learns at once that nobody will answer.
            c.channel->ringReply(channel::Post::Closing);
        } else {
            if (!reply(c, hello->requestId, ntstatus::kSuccess, process->processId(), process->token())) return;
            serveRequests(c);
        }
        objects_.threadExited(c.id);
        return;
    }
    case wire::Role::Control:
        if (!reply(c, hello->requestId, ntstatus::kSuccess, bootCount_.load())) return;
        serveRequests(c);
        return;
    }
}

void MachineDaemon::serveProcess(Connection& c, const wire::HelloRecord& hello, uint32_t pid) {
    std::shared_ptr<ClientProcess> process;
    std::vector<nt::MemoryRegion> regions;
    {
        std::shared_lock kernel(kernelLock_);
        if (!acceptingClients_.load() || !kernel_) {
            reply(c, 0, ntstatus::kDeviceNotReady);
            return;
        }
        regions = kernel_->memoryRegions();
        process = std::make_shared<ClientProcess>(nextProcessId_.fetch_add(1), pid, randomToken(), regions,
                                                  limits_.viewsPerProcess.load());
        std::lock_guard lock(stateLock_);
        processes_[process->token()] = process;
        c.process = process;
    }
    (void)hello;
    wire::PayloadWriter w;
    w.record(wire::HelloReplyRecord{process->token(), process->processId(), static_cast<uint32_t>(regions.size())});
    std::vector<int> fds;
    for (const auto& r : regions) {
        w.record(wire::RegionRecord{r.physicalBase, r.size});
        fds.push_back(r.fd);
    }
    if (fds.size() <= wire::kMaxFdsPerFrame && reply(c, 0, ntstatus::kSuccess, 0, 0, w.data(), fds)) {
        // The process connection carries nothing more: its end is the process's end.
        Frame frame;
        while (receiveFrame(c.socket.get(), &frame, -1, nullptr, 0) == IoResult::Ok) {
        }
    }
    processGone(process);
}

void MachineDaemon::processGone(const std::shared_ptr<ClientProcess>& process) {
    if (!process->markExited()) return;
    {
        // Its threads stop after their current request; processExited below
        // cancels what they wait for in the kernel.
        std::lock_guard lock(stateLock_);
        for (auto& [id, connection] : connections_)
            if (connection->process == process && connection->role == wire::Role::Thread) endConnection(*connection);
        processes_.erase(process->token());
    }
    objects_.processExited(process->processId());
    std::shared_lock kernel(kernelLock_);
    if (kernel_) kernel_->processExited(*process);
}

void MachineDaemon::serveRequests(Connection& c) {
    Frame frame;
    std::string why;
    while (true) {
        IoResult result = receiveFrame(c.socket.get(), &frame, -1, &why, limits_.requestBytes.load());
        if (result != IoResult::Ok) {
            if (result == IoResult::Malformed) log("dropped a connection: " + why);
            return;
        }
        auto request = decodeRequest(frame.header, frame.payload, &why);
        if (!request) {
            log("dropped a connection after a malformed " + std::string(wire::opName(frame.op())) + " request: " + why);
            return;
        }
        if (!handle(c, *request, frame.payload)) return;
    }
}

void MachineDaemon::serveChannel(Connection& c) {
    channel::RequestChannel& requests = *c.channel;
    Frame frame;
    std::string why;
    bool replied = false;
    while (true) {
        // Right after a reply the client runs (or was just woken): its next
        // request is likely on the way, so the wait spins first.
        const channel::WaitResult wait = requests.waitForRequest(kChannelIdleCheck, replied, c.ended);
        replied = false;
        if (wait == channel::WaitResult::Stopped) return;
        if (wait == channel::WaitResult::TimedOut) {
            if (socketHungUp(c.socket.get())) return;
            continue;
        }
        switch (requests.requestPost()) {
        case channel::Post::InArea:
            if (!requests.takeRequest(&frame.header, &frame.payload, &why)) {
                log("dropped a connection after a malformed request in its channel: " + why);
                return;
            }
            frame.fds.clear();
            break;
        case channel::Post::OnSocket: {
            IoResult result = receiveFrame(c.socket.get(), &frame, -1, &why, limits_.requestBytes.load());
            if (result != IoResult::Ok) {
                if (result == IoResult::Malformed) log("dropped a connection: " + why);
                return;
            }
            break;
        }
        case channel::Post::Closing:
            return;
        default:
            log("dropped a connection after an unknown ring of its channel");
            return;
        }
        auto request = decodeRequest(frame.header, frame.payload, &why);
        if (!request) {
            log("dropped a connection after a malformed " + std::string(wire::opName(frame.op())) + " request: " + why);
            return;
        }
        c.process->channelRequestStarted();
        const bool keep = handle(c, *request, frame.payload);
        c.process->channelRequestEnded();
        if (!keep) return;
        // A read's output may have grown the buffer; an idle thread keeps none of it.
        if (frame.payload.capacity() > kKeptPayloadBytes) frame.payload = std::vector<uint8_t>();
        replied = true;
    }
}

void MachineDaemon::endConnection(Connection& c) {
    ::shutdown(c.socket.get(), SHUT_RDWR);
    c.ended = true;
    if (c.channel) c.channel->interruptRequestWait();
}

// Ends the connections of processes. One that has not said hello yet is
// left alone: it may be a status request, which is answered while the
// machine restarts; a process or thread it turns out to be is refused
// (clients are not accepted, its process is gone).
void MachineDaemon::disconnectClients() {
    acceptingClients_ = false;
    std::vector<std::shared_ptr<ClientProcess>> processes;
    {
        std::lock_guard lock(stateLock_);
        for (auto& [id, connection] : connections_)
            if (ofProcess(*connection)) endConnection(*connection);
        for (auto& [token, process] : processes_) processes.push_back(process);
    }
    for (auto& process : processes) processGone(process);
    objects_.cancelAllWaits();
    if (!waitForConnections(ofProcess, drainTimeoutMs())) log("client requests still running after the drain time");
}

bool MachineDaemon::waitForConnections(bool (*keep)(const Connection&), int timeoutMs) {
    std::unique_lock lock(stateLock_);
    return connectionEnded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto& [id, connection] : connections_)
            if (keep(*connection)) return false;
        return true;
    });
}

bool MachineDaemon::reboot(std::string* error) {
    std::lock_guard power(powerLock_);
    // A configuration that does not parse leaves the running machine alone.
    MachineConfig check;
    if (!loadMachineConfig(options_.configPath, &check, error)) return false;
    disconnectClients();
    {
        std::unique_lock lock(kernelLock_, std::defer_lock);
        if (!lock.try_lock_for(std::chrono::milliseconds(drainTimeoutMs()))) {
            // The old kernel keeps running and takes clients again.
            *error = "a request did not finish in time; the machine did not restart and keeps running";
            log("reboot: " + *error);
            acceptingClients_ = true;
            return false;
        }
        if (kernel_) kernel_->shutdown();
        kernel_.reset();
    }
    if (!powerOn(error)) {
        stopRequested_ = true;
        wake();
        return false;
    }
    return true;
}

void MachineDaemon::powerOff() {
    std::lock_guard power(powerLock_);
    if (listen_.valid()) {
        ::unlink(socketPathOf(options_.directory).c_str());
        listen_.reset();
    }
    disconnectClients();
    {
        std::unique_lock lock(kernelLock_, std::defer_lock);
        if (lock.try_lock_for(std::chrono::milliseconds(drainTimeoutMs()))) {
            if (kernel_) kernel_->shutdown();
            kernel_.reset();
        } else {
            log("a request did not finish; powering off without a clean kernel shutdown");
            std::fflush(stderr);
            ::_exit(3);
        }
    }
    {
        std::lock_guard lock(stateLock_);
        for (auto& [id, connection] : connections_) endConnection(*connection);
    }
    std::unique_lock lock(stateLock_);
    if (!connectionEnded_.wait_for(lock, std::chrono::milliseconds(drainTimeoutMs()),
                                   [&] { return runningThreads_.load() == 0; })) {
        log("connections still open at power-off");
        std::fflush(stderr);
        ::_exit(3);
    }
}

}  // namespace lxm
