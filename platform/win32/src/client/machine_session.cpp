#include "machine_session.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lxmachine/machine_directory.h"
#include "lxmachine/request_channel.h"
#include "trace.h"

extern char** environ;

namespace lx::win32::client {

using lxm::Frame;
using lxm::IoResult;
using lxm::UniqueFd;
namespace wire = lxm::wire;

namespace {

constexpr int kHelloTimeoutMs = 30000;
constexpr auto kBootToolTimeout = std::chrono::seconds(180);

struct Region {
    uint64_t base;
    uint64_t size;
    UniqueFd fd;
};

// One process connection to one boot of the machine.
struct Attachment {
    uint64_t id = 0;
    UniqueFd socket;
    uint64_t token = 0;
    std::vector<Region> regions;
    std::atomic<bool> broken{false};
};

struct PhysicalView {
    void* mapBase;
    size_t mapLength;
};

struct Session {
    std::mutex lock;
    std::shared_ptr<Attachment> attachment;
    uint64_t nextAttachmentId = 1;
    std::mutex viewsLock;
    std::map<uintptr_t, PhysicalView> physicalViews;  // by the address handed out
};

Session& session() {
    static Session* s = new Session;  // never destroyed: threads may still call during exit
    return *s;
}

struct ThreadChannel {
    std::shared_ptr<Attachment> attachment;
    UniqueFd socket;
    // The shared-memory channel the machine gave this thread's connection;
    // without one every request crosses the socket.
    std::unique_ptr<lxm::channel::RequestChannel> requests;
    uint32_t nextRequest = 1;

    // Tells the machine's thread at once that the connection ends.
    void close() {
        if (requests) requests->ringRequest(lxm::channel::Post::Closing);
        requests.reset();
        socket.reset();
        attachment.reset();
    }
    ~ThreadChannel() { close(); }
};
// The thread's channel is on the heap and its owner frees it when the thread
// ends. A library that detaches after the thread's own objects are gone (the
// main thread during exit) gets a fresh channel, which is never freed: a
// thread-local object is not to be touched once destroyed.
thread_local ThreadChannel* threadChannel = nullptr;

struct ThreadChannelOwner {
    bool armed = false;
    ~ThreadChannelOwner() {
        delete threadChannel;
        threadChannel = nullptr;
        ended = true;
    }
    static thread_local bool ended;
};
thread_local bool ThreadChannelOwner::ended = false;
thread_local ThreadChannelOwner threadChannelOwner;

ThreadChannel& currentChannel() {
    if (threadChannel == nullptr) {
        threadChannel = new ThreadChannel;
        // The first use constructs the owner for this thread, unless it has already run.
        if (!ThreadChannelOwner::ended) threadChannelOwner.armed = true;
    }
    return *threadChannel;
}

// The machine never writes on the process connection; readable means closed.
bool peerClosed(int socket) {
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}

// True when the calling thread's channel to `a` is open and the machine has
// not rung its end: the machine ends every thread connection of a process
// whose connection it closes (reboot, shutdown), so the attachment is live
// without asking the process socket (a system call per request). A machine
// that died without a word is noticed by the request itself.
bool channelVouchesFor(const Attachment& a) {
    const ThreadChannel* channel = threadChannel;
    return channel && channel->attachment.get() == &a && channel->requests && !channel->requests->closedByPeer();
}

bool attachmentLive(const Attachment& a) {
    return !a.broken.load() && (channelVouchesFor(a) || !peerClosed(a.socket.get()));
}

std::string libraryDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&callMachine), &info) == 0 || !info.dli_fname) return ".";
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

thread_local int autobootSuspended = 0;

bool autobootOffInEnvironment() {
    const char* off = std::getenv("LX_MACHINE_NO_AUTOBOOT");
    return off && *off && std::strcmp(off, "0") != 0;
}

// Runs `lxmachine boot --dir DIR` and waits (bounded) for it to finish;
// *why says what went wrong when it returns false.
bool bootMachine(const std::string& directory, std::string* why) {
    const char* override = std::getenv("LX_MACHINE_TOOL");
    std::string tool = override && *override ? override : libraryDirectory() + "/../bin/lxmachine";
    std::string dirArg = directory;
    char* argv[] = {tool.data(), const_cast<char*>("boot"), const_cast<char*>("--dir"), dirArg.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *why = "cannot run " + tool + ": " + std::strerror(rc);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + kBootToolTimeout;
    int status = 0;
    while (true) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            *why = std::string("waiting for ") + tool + ": " + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            *why = tool + " boot did not finish in time";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    *why = tool + " boot failed (see its messages on standard error)";
    return false;
}

// Traces a failed connection to the machine in `directory`; always null.
std::shared_ptr<Attachment> connectionFailed(const std::string& directory, const std::string& why) {
    trace("no machine connection (directory " + directory + "): " + why);
    return nullptr;
}

std::shared_ptr<Attachment> attach(const std::string& directory) {
    std::string error;
    UniqueFd socket = lxm::connectToMachine(directory, &error);
    if (!socket.valid()) {
        if (autobootOffInEnvironment())
            return connectionFailed(directory, error + "; auto-boot is off (LX_MACHINE_NO_AUTOBOOT)");
        if (autobootSuspended > 0) return connectionFailed(directory, error + "; no boot while a library attaches");
        std::string bootError;
        if (!bootMachine(directory, &bootError)) return connectionFailed(directory, error + "; " + bootError);
        socket = lxm::connectToMachine(directory, &error);
        if (!socket.valid()) return connectionFailed(directory, "after boot: " + error);
    }

    wire::PayloadWriter w;
    w.record(wire::HelloRecord{wire::kProtocolVersion, static_cast<uint32_t>(wire::Role::Process),
                               static_cast<uint32_t>(::getpid()), 0, 0});
    if (lxm::sendFrame(socket.get(), wire::Op::Hello, 0, w.data()) != IoResult::Ok)
        return connectionFailed(directory, "the machine closed the connection");
    Frame frame;
    if (lxm::receiveFrame(socket.get(), &frame, kHelloTimeoutMs) != IoResult::Ok)
        return connectionFailed(directory, "the machine did not answer the greeting");
    wire::ReplyRecord reply{};
    std::span<const uint8_t> data;
    if (!lxm::parseReply(frame, &reply, &data) || reply.status != 0)
        return connectionFailed(directory, "the machine refused the process (protocol version or peer)");
    wire::PayloadReader reader(data);
    wire::HelloReplyRecord hello{};
    if (!reader.record(&hello) || hello.regionCount != frame.fds.size() || hello.regionCount > wire::kMaxFdsPerFrame)
        return nullptr;
    auto a = std::make_shared<Attachment>();
    for (uint32_t i = 0; i < hello.regionCount; ++i) {
        wire::RegionRecord region{};
        if (!reader.record(&region)) return nullptr;
        a->regions.push_back(Region{region.physicalBase, region.size, std::move(frame.fds[i])});
    }
    if (!reader.complete()) return nullptr;
    a->socket = std::move(socket);
    a->token = hello.processToken;
    return a;
}

std::shared_ptr<Attachment> currentOrNewAttachment() {
    Session& s = session();
    std::lock_guard guard(s.lock);
    if (s.attachment && attachmentLive(*s.attachment)) return s.attachment;
    s.attachment.reset();
    auto a = attach(lxm::resolveMachineDirectory(nullptr));
    if (a) {
        a->id = s.nextAttachmentId++;
        s.attachment = a;
    }
    return a;
}

// LX_MACHINE_CHANNEL=0 keeps a thread's requests on its socket (for comparison).
bool requestChannelWanted() {
    const char* value = std::getenv("LX_MACHINE_CHANNEL");
    return !(value && std::strcmp(value, "0") == 0);
}

bool joinThread(const std::shared_ptr<Attachment>& a) {
    ThreadChannel& channel = currentChannel();
    if (channel.attachment == a && channel.socket.valid()) return true;
    channel.close();
    std::string error;
    const std::string directory = lxm::resolveMachineDirectory(nullptr);
    UniqueFd socket = lxm::connectToMachine(directory, &error);
    if (!socket.valid()) {
        connectionFailed(directory, error);
        return false;
    }
    wire::PayloadWriter w;
    w.record(wire::HelloRecord{wire::kProtocolVersion, static_cast<uint32_t>(wire::Role::Thread),
                               static_cast<uint32_t>(::getpid()),
                               requestChannelWanted() ? wire::kHelloRequestChannel : 0u, a->token});
    if (lxm::sendFrame(socket.get(), wire::Op::Hello, 0, w.data()) != IoResult::Ok) return false;
    Frame frame;
    wire::ReplyRecord reply{};
    std::span<const uint8_t> data;
    if (lxm::receiveFrame(socket.get(), &frame, kHelloTimeoutMs) != IoResult::Ok ||
        !lxm::parseReply(frame, &reply, &data) || reply.status != 0 || reply.value != a->token)
        return false;
    // A machine that could not make a channel answers without one: the socket serves alone.
    if (!frame.fds.empty() || !data.empty()) {
        lxm::channel::ChannelRecord record{};
        if (frame.fds.size() != 1 || data.size() != sizeof record) return false;
        std::memcpy(&record, data.data(), sizeof record);
        std::string why;
        channel.requests = lxm::channel::RequestChannel::attach(std::move(frame.fds[0]), record, &why);
        if (!channel.requests) {
            trace("no request channel: " + why);
            return false;
        }
    }
    channel.socket = std::move(socket);
    channel.attachment = a;
    return true;
}

void* mapRegion(const Attachment& a, uint64_t physical, uint64_t length) {
    for (const Region& r : a.regions) {
        if (physical < r.base || length > r.size || physical - r.base > r.size - length || length == 0) continue;
        uint64_t offset = physical - r.base;
        uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
        uint64_t alignedOffset = offset & ~(page - 1);
        size_t mapLength = static_cast<size_t>(length + (offset - alignedOffset));
        void* base = ::mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, r.fd.get(),
                            static_cast<off_t>(alignedOffset));
        if (base == MAP_FAILED) return nullptr;
        void* address = static_cast<uint8_t*>(base) + (offset - alignedOffset);
        Session& s = session();
        std::lock_guard guard(s.viewsLock);
        s.physicalViews[reinterpret_cast<uintptr_t>(address)] = PhysicalView{base, mapLength};
        return address;
    }
    return nullptr;
}

bool unmapLocal(uintptr_t address) {
    Session& s = session();
    PhysicalView view;
    {
        std::lock_guard guard(s.viewsLock);
        auto it = s.physicalViews.find(address);
        if (it == s.physicalViews.end()) return false;
        view = it->second;
        s.physicalViews.erase(it);
    }
    return ::munmap(view.mapBase, view.mapLength) == 0;
}

// Answers the machine's requests to map or unmap memory in the middle of a request.
bool serveCallback(const Attachment& a, int socket, const Frame& frame) {
    wire::PayloadReader reader(frame.payload);
    if (frame.op() == wire::Op::MapPhysical) {
        wire::MapRecord map{};
        void* address = nullptr;
        if (reader.record(&map) && reader.complete()) address = mapRegion(a, map.physical, map.length);
        wire::PayloadWriter w;
        w.record(wire::MapReplyRecord{reinterpret_cast<uint64_t>(address)});
        return lxm::sendFrame(socket, wire::Op::MapReply, frame.header.requestId, w.data()) == IoResult::Ok;
    }
    wire::HandleRecord unmap{};
    bool ok = reader.record(&unmap) && reader.complete() && unmapLocal(unmap.handle);
    auto payload = lxm::replyPayload(ok ? 0 : 1, 0, 0);
    return lxm::sendFrame(socket, wire::Op::Reply, frame.header.requestId, payload) == IoResult::Ok;
}

void markBroken(const std::shared_ptr<Attachment>& a) {
    currentChannel().close();
    // Only a closed process connection means the machine let go of us.
    if (peerClosed(a->socket.get())) a->broken = true;
}

// A forked child is a new process: it must not speak on the parent's connections.
void prepareFork() { session().lock.lock(); }
void parentAfterFork() { session().lock.unlock(); }
void childAfterFork() {
    Session& s = session();
    s.attachment.reset();
    s.lock.unlock();
    ThreadChannel& channel = currentChannel();
    // The channel's memory is shared with the parent's thread: leave it unrung.
    channel.requests.reset();
    channel.attachment.reset();
    channel.socket.reset();
}
[[maybe_unused]] const int forkHandlers = ::pthread_atfork(prepareFork, parentAfterFork, childAfterFork);

// The reply frame of request `id`, or nothing when it is not one.
std::optional<MachineReply> replyOf(Frame& frame, uint32_t id) {
    wire::ReplyRecord record{};
    std::span<const uint8_t> data;
    if (frame.header.requestId != id || !lxm::parseReply(frame, &record, &data)) return std::nullopt;
    MachineReply reply;
    reply.status = record.status;
    reply.information = record.information;
    reply.value = record.value;
    reply.data.assign(data.begin(), data.end());
    reply.fds = std::move(frame.fds);
    return reply;
}

bool isCallback(const Frame& frame) {
    return frame.op() == wire::Op::MapPhysical || frame.op() == wire::Op::UnmapPhysical;
}

std::optional<MachineReply> callOnSocket(const std::shared_ptr<Attachment>& a, ThreadChannel& channel, wire::Op op,
                                         std::span<const uint8_t> payload) {
    const int socket = channel.socket.get();
    const uint32_t id = channel.nextRequest++;
    if (lxm::sendFrame(socket, op, id, payload) != IoResult::Ok) return std::nullopt;
    while (true) {
        Frame frame;
        if (lxm::receiveFrame(socket, &frame, -1) != IoResult::Ok) return std::nullopt;
        if (!isCallback(frame)) return replyOf(frame, id);
        if (!serveCallback(*a, socket, frame)) return std::nullopt;
    }
}

// True when the machine closed the thread's socket; a frame waiting is not a hang-up.
bool socketHungUp(int socket) {
    char byte;
    ssize_t n = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return false;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// How often a thread waiting on its channel makes sure the machine is still there.
constexpr std::chrono::milliseconds kReplyCheck{250};

std::optional<MachineReply> callOnChannel(const std::shared_ptr<Attachment>& a, ThreadChannel& channel, wire::Op op,
                                          std::span<const uint8_t> payload) {
    lxm::channel::RequestChannel& requests = *channel.requests;
    const int socket = channel.socket.get();
    const uint32_t id = channel.nextRequest++;
    bool machineRunning;
    if (requests.requestFits(payload.size())) {
        machineRunning = requests.postRequest(op, id, payload);
    } else {
        if (lxm::sendFrame(socket, op, id, payload) != IoResult::Ok) return std::nullopt;
        machineRunning = requests.ringRequest(lxm::channel::Post::OnSocket);
    }
    while (true) {
        const auto wait = requests.waitForReply(kReplyCheck, machineRunning);
        machineRunning = false;
        if (wait != lxm::channel::WaitResult::Rang) {
            if (socketHungUp(socket)) return std::nullopt;
            continue;
        }
        Frame frame;
        switch (requests.replyPost()) {
        case lxm::channel::Post::InArea:
            if (!requests.takeReply(&frame.header, &frame.payload)) return std::nullopt;
            return replyOf(frame, id);
        case lxm::channel::Post::OnSocket:
            if (lxm::receiveFrame(socket, &frame, -1) != IoResult::Ok) return std::nullopt;
            if (!isCallback(frame)) return replyOf(frame, id);
            if (!serveCallback(*a, socket, frame)) return std::nullopt;
            machineRunning = true;  // it carries on with the request at once
            continue;
        default:  // the machine ended the connection
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<MachineReply> callMachine(wire::Op op, std::span<const uint8_t> payload) {
    auto a = currentOrNewAttachment();
    if (!a) return std::nullopt;
    if (!joinThread(a)) {
        markBroken(a);
        return std::nullopt;
    }
    ThreadChannel& channel = currentChannel();
    auto reply = channel.requests ? callOnChannel(a, channel, op, payload) : callOnSocket(a, channel, op, payload);
    if (!reply) markBroken(a);
    return reply;
}

uint64_t currentAttachment() {
    auto a = currentOrNewAttachment();
    return a ? a->id : 0;
}

bool attachmentAlive(uint64_t id) {
    Session& s = session();
    std::lock_guard guard(s.lock);
    return s.attachment && s.attachment->id == id && attachmentLive(*s.attachment);
}

void* mapPhysicalView(uint64_t physical, uint64_t length) {
    auto a = currentOrNewAttachment();
    if (!a) return nullptr;
    void* address = mapRegion(*a, physical, length);
    if (!address) return nullptr;
    wire::PayloadWriter w;
    w.record(wire::ViewRecord{reinterpret_cast<uint64_t>(address), length, physical, 0});
    auto reply = callMachine(wire::Op::AddView, w.data());
    if (!reply || reply->status != 0) {
        unmapLocal(reinterpret_cast<uintptr_t>(address));
        return nullptr;
    }
    return address;
}

bool unmapPhysicalView(void* address) {
    if (!unmapLocal(reinterpret_cast<uintptr_t>(address))) return false;
    forgetView(address);
    return true;
}

void reportView(void* address, uint64_t length, uint64_t objectHandle) {
    wire::PayloadWriter w;
    w.record(wire::ViewRecord{reinterpret_cast<uint64_t>(address), length, 0, objectHandle});
    callMachine(wire::Op::AddView, w.data());
}

void forgetView(void* address) {
    wire::PayloadWriter w;
    w.record(wire::ViewRecord{reinterpret_cast<uint64_t>(address), 0, 0, 0});
    callMachine(wire::Op::RemoveView, w.data());
}

void suspendAutoBoot() { ++autobootSuspended; }
void resumeAutoBoot() {
    if (autobootSuspended > 0) --autobootSuspended;
}

}  // namespace lx::win32::client
