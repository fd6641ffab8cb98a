// The machine's client protocol: binary frames over a Unix stream socket.
// A frame is a FrameHeader followed by `length` payload bytes. A payload is a
// fixed record (one per opcode) followed by the variable parts its length
// fields announce. Everything is little-endian, as the host is.
//
// Every connection starts with a Hello naming its role:
// - Process: one per client process, held for its life; the reply carries
//   the process token and, as SCM_RIGHTS, one memfd per memory region. Nothing
//   else travels on it: its end is the process's end.
// - Thread: one per client thread, joining a process by its token; carries
//   that thread's requests, one at a time, each answered by one Reply. While
//   a request runs the daemon may send MapPhysical (answered by MapReply) or
//   UnmapPhysical (answered by Reply) with the same request id. A thread
//   hello with kHelloRequestChannel set gets a shared-memory request channel
//   (its memfd and a ChannelRecord in the reply, lxmachine/request_channel.h)
//   and from then on announces every frame through it.
// - Control: the lxmachine tool (status, shutdown, reboot, plug ...).
// A frame that does not decode ends its connection and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lxm::wire {

inline constexpr uint32_t kMagic = 0x314D584C;  // "LXM1"
inline constexpr uint32_t kProtocolVersion = 1;
// Upper bound of one payload: the largest I/O buffer a client may pass plus records.
inline constexpr uint32_t kMaxIoBuffer = 16u << 20;
inline constexpr uint32_t kMaxPayload = kMaxIoBuffer + 4096;
inline constexpr uint32_t kMaxName = 4096;  // paths, key names, object names
inline constexpr uint32_t kMaxFdsPerFrame = 16;
// A payload sent from the pieces it is made of, one after the other, so a
// large one (a reply's record and its data) is never copied into one buffer.
using FrameParts = std::span<const std::span<const uint8_t>>;
inline constexpr size_t kMaxFrameParts = 4;

enum class Op : uint16_t {
    // connection set-up
    Hello = 1,
    // user-mode I/O
    CreateFile = 10,
    CloseFile = 11,
    DeviceIoControl = 12,
    ReadFile = 13,
    WriteFile = 14,
    InterfacePaths = 15,
    // registry (HKLM)
    RegQuery = 20,
    RegSet = 21,
    RegDelete = 22,
    RegKeyExists = 23,
    RegCreateKey = 24,
    // named objects and views
    CreateMapping = 30,
    OpenMapping = 31,
    CreateMutex = 32,
    OpenMutex = 33,
    CloseObject = 34,
    ReleaseMutex = 35,
    WaitObject = 36,
    AddView = 37,
    RemoveView = 38,
    Version = 39,
    DisplayMode = 40,  // the primary surface: DisplayModeRecord
    // control (the lxmachine tool)
    Status = 50,
    Shutdown = 51,
    Reboot = 52,
    Plug = 53,
    Unplug = 54,
    Display = 55,
    CardSource = 56,  // CardSourceRecord, then the source name
    CardSwitch = 57,
    PlugAudio = 58,    // AudioPlugRecord
    UnplugAudio = 59,  // UnplugRecord, numbering the audio functions
    // daemon -> client, in the middle of a request
    MapPhysical = 70,
    UnmapPhysical = 71,
    // replies
    Reply = 90,
    MapReply = 91,
};

struct FrameHeader {
    uint32_t magic;
    uint16_t opcode;
    uint16_t flags;  // always 0
    uint32_t requestId;
    uint32_t length;  // payload bytes that follow
};
static_assert(sizeof(FrameHeader) == 16);
static_assert(offsetof(FrameHeader, opcode) == 4);
static_assert(offsetof(FrameHeader, requestId) == 8);
static_assert(offsetof(FrameHeader, length) == 12);

enum class Role : uint32_t { Process = 1, Thread = 2, Control = 3 };

inline constexpr uint32_t kHelloRequestChannel = 1;  // HelloRecord::flags, thread role only

struct HelloRecord {
    uint32_t protocolVersion;
    uint32_t role;  // Role
    uint32_t pid;
    uint32_t flags;  // kHelloRequestChannel; other bits 0
    uint64_t processToken;  // Thread: the token the process connection received
};
static_assert(sizeof(HelloRecord) == 24);
static_assert(offsetof(HelloRecord, flags) == 12);
static_assert(offsetof(HelloRecord, processToken) == 16);

// Reply to a process Hello; one fd per region travels with it (SCM_RIGHTS).
struct HelloReplyRecord {
    uint64_t processToken;
    uint32_t processId;  // the machine's id of this process
    uint32_t regionCount;
};
static_assert(sizeof(HelloReplyRecord) == 16);

struct RegionRecord {
    uint64_t physicalBase;
    uint64_t size;
};
static_assert(sizeof(RegionRecord) == 16);

// Every request is answered by one Reply: an NT status (or a Win32 error for
// the object manager, see ReplyRecord::kind), two scalars and optional data.
struct ReplyRecord {
    int32_t status;
    uint32_t information;
    uint64_t value;
    uint32_t dataLength;
    uint32_t fdCount;  // fds attached to this frame
};
static_assert(sizeof(ReplyRecord) == 24);
static_assert(offsetof(ReplyRecord, value) == 8);
static_assert(offsetof(ReplyRecord, dataLength) == 16);

struct PathRecord {
    uint32_t pathLength;
    uint32_t reserved;
};
static_assert(sizeof(PathRecord) == 8);

struct HandleRecord {
    uint64_t handle;
};
static_assert(sizeof(HandleRecord) == 8);

struct IoctlRecord {
    uint64_t fileHandle;
    uint32_t code;
    uint32_t inputLength;  // input bytes follow
    uint32_t outputLength;
    uint32_t reserved;
};
static_assert(sizeof(IoctlRecord) == 24);
static_assert(offsetof(IoctlRecord, code) == 8);
static_assert(offsetof(IoctlRecord, outputLength) == 16);

struct TransferRecord {  // ReadFile (length to read) and WriteFile (data follows)
    uint64_t fileHandle;
    uint32_t length;
    uint32_t reserved;
};
static_assert(sizeof(TransferRecord) == 16);

struct GuidRecord {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(GuidRecord) == 16);

struct RegistryRecord {
    uint32_t keyLength;  // key path, value name and data follow in that order
    uint32_t valueNameLength;
    uint32_t type;
    uint32_t dataLength;
};
static_assert(sizeof(RegistryRecord) == 16);

struct NamedObjectRecord {
    uint64_t size;         // mappings: bytes
    uint32_t nameLength;   // name follows
    uint32_t flags;        // mutex: initially owned
};
static_assert(sizeof(NamedObjectRecord) == 16);

struct WaitRecord {
    uint64_t handle;
    uint32_t timeoutMs;  // 0xFFFFFFFF waits without bound
    uint32_t reserved;
};
static_assert(sizeof(WaitRecord) == 16);

struct ViewRecord {
    uint64_t address;
    uint64_t length;
    uint64_t physical;      // 0 for a view of a named object
    uint64_t objectHandle;  // 0 for a view of physical memory
};
static_assert(sizeof(ViewRecord) == 32);

struct StatusRecord {
    uint32_t json;
    uint32_t reserved;
};
static_assert(sizeof(StatusRecord) == 8);

struct PlugRecord {
    uint32_t signature;
    uint32_t revision;
    uint32_t boardSwitch;
    uint32_t reserved;
};
static_assert(sizeof(PlugRecord) == 16);

struct UnplugRecord {
    uint32_t number;
    uint32_t surprise;
};
static_assert(sizeof(UnplugRecord) == 8);

// Plugs in a Heron audio function with the default block rate.
struct AudioPlugRecord {
    uint32_t portSpace;  // 1: registers in I/O port space
    uint32_t reserved;
};
static_assert(sizeof(AudioPlugRecord) == 8);

struct DisplayRecord {
    uint32_t width;
    uint32_t height;
    uint32_t bits;
    uint32_t reserved;
};
static_assert(sizeof(DisplayRecord) == 16);

// Connects a video source to one multiplexer input of card `number`
// (from 1, bus order): "none", "bars" or "image:PATH" with an absolute path.
struct CardSourceRecord {
    uint32_t number;
    uint32_t input;  // 0 to 3
    uint32_t sourceLength;  // source name follows
    uint32_t reserved;
};
static_assert(sizeof(CardSourceRecord) == 16);
static_assert(offsetof(CardSourceRecord, input) == 4);
static_assert(offsetof(CardSourceRecord, sourceLength) == 8);

// Sets the board switch (general-purpose lines 0 and 1) of card `number`.
struct CardSwitchRecord {
    uint32_t number;
    uint32_t bits;  // 0 to 3
};
static_assert(sizeof(CardSwitchRecord) == 8);
static_assert(offsetof(CardSwitchRecord, bits) == 4);

struct VersionRecord {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t workstation;
};
static_assert(sizeof(VersionRecord) == 16);

// Reply data of DisplayMode: the display adapter's current mode and where
// its frame buffer lies in physical memory (all zero without an adapter).
struct DisplayModeRecord {
    uint32_t width;
    uint32_t height;
    uint32_t bits;  // 8, 15, 16, 24 or 32
    uint32_t pitch;  // bytes per line
    uint32_t redMask;
    uint32_t greenMask;
    uint32_t blueMask;
    uint32_t reserved;
    uint64_t frameBufferPhysical;
    uint64_t frameBufferSize;
};
static_assert(sizeof(DisplayModeRecord) == 48);
static_assert(offsetof(DisplayModeRecord, frameBufferPhysical) == 32);

struct MapRecord {
    uint64_t physical;
    uint64_t length;
};
static_assert(sizeof(MapRecord) == 16);

struct MapReplyRecord {
    uint64_t address;  // 0: refused
};
static_assert(sizeof(MapReplyRecord) == 8);

// Builds one payload: a fixed record, then variable parts.
class PayloadWriter {
public:
    template <typename Record>
    PayloadWriter& record(const Record& r) {
        return bytes(&r, sizeof r);
    }
    PayloadWriter& bytes(const void* data, size_t length) {
        const auto* p = static_cast<const uint8_t*>(data);
        if (length != 0) buffer_.insert(buffer_.end(), p, p + length);
        return *this;
    }
    PayloadWriter& text(std::string_view s) { return bytes(s.data(), s.size()); }
    const std::vector<uint8_t>& data() const { return buffer_; }
    std::vector<uint8_t>& data() { return buffer_; }

private:
    std::vector<uint8_t> buffer_;
};

// Reads a payload without ever reading past its end; a failed read leaves
// the reader failed for good, so callers check once at the end.
class PayloadReader {
public:
    explicit PayloadReader(std::span<const uint8_t> payload) : payload_(payload) {}

    template <typename Record>
    bool record(Record* r) {
        if (!ok_ || payload_.size() - offset_ < sizeof(Record)) return fail();
        std::memcpy(r, payload_.data() + offset_, sizeof(Record));
        offset_ += sizeof(Record);
        return true;
    }
    bool bytes(uint32_t length, std::span<const uint8_t>* out) {
        if (!ok_ || payload_.size() - offset_ < length) return fail();
        *out = payload_.subspan(offset_, length);
        offset_ += length;
        return true;
    }
    bool text(uint32_t length, std::string_view* out) {
        std::span<const uint8_t> raw;
        if (!bytes(length, &raw)) return false;
        *out = std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size());
        return true;
    }
    // True when every byte was consumed and no read failed.
    bool complete() const { return ok_ && offset_ == payload_.size(); }
    bool ok() const { return ok_; }

private:
    bool fail() {
        ok_ = false;
        return false;
    }
    std::span<const uint8_t> payload_;
    size_t offset_ = 0;
    bool ok_ = true;
};

// Checks a header as it arrives, before any payload is read.
bool headerValid(const FrameHeader& header, std::string* why);

const char* opName(Op op);

}  // namespace lxm::wire
