// The machine daemon's view of the kernel: power, user-mode I/O requests,
// the registry, and what a person does to the PC (plug, unplug, display mode).
// Every call is thread safe; user-mode requests block the calling thread until
// the driver completes them, exactly like a synchronous Win32 call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lxmachine/machine_config.h"

namespace lxhw {
class PciFunction;
}

namespace nt {

using NTSTATUS = int32_t;

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
    friend bool operator==(const Guid&, const Guid&) = default;
};

// One stretch of physical address space backed by a memfd (RAM, VRAM).
struct MemoryRegion {
    int fd;                 // owned by the kernel; valid while it runs
    uint64_t physicalBase;  // where offset 0 of the fd lies
    uint64_t size;
};

// A user-mode process attached to the machine; implemented by the daemon.
// The kernel calls it only on the thread that runs a request of that process
// ("in the caller's context").
class __attribute__((visibility("default"))) UserProcess {
public:
    virtual ~UserProcess() = default;
    virtual uint32_t processId() const = 0;
    // Maps [physical, physical + length) into the process; returns the user
    // address, or 0 when the process refused or the range is not memory.
    virtual uint64_t mapPhysical(uint64_t physical, uint64_t length) = 0;
    // Removes a view made by mapPhysical (or by the process itself).
    virtual bool unmapView(uint64_t userAddress) = 0;
    // Physical address behind a user address, 0 when it is in no view.
    virtual uint64_t physicalAddressOf(uint64_t userAddress) const = 0;
};

struct BootOptions {
    lxm::MachineConfig config;
    std::string registryFile;     // persistent HKLM
    std::string driverDirectory;  // where TernCardVI.so, HMBServ.so, HeronAU.so live
    // Where kernel messages and DbgPrint output go (stderr when empty).
    std::function<void(const std::string&)> log;
    // Where a bug check's record goes as JSON (none when empty); the record
    // is also written to stderr.
    std::string crashFile;
};

// A driver fault or a broken kernel rule ends the process with this status
// after the record is written (see crashFile).
inline constexpr int kBugCheckExitStatus = 4;

// Driver services live under HKLM\SYSTEM\CurrentControlSet\Services\<Name>:
//   Type (REG_DWORD) 1 = kernel driver; Start (REG_DWORD) 0..2 = started at
//   boot, 3 = on demand (PnP), 4 = disabled; ImagePath (REG_SZ) file name of
//   the driver relative to driverDirectory ("HMBServ.so"; "libX.so" is also
//   tried); HardwareIds (REG_MULTI_SZ) for PnP drivers, matched without regard
//   to case against "PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr",
//   "PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss", "PCI\VEN_vvvv&DEV_dddd&REV_rr"
//   and "PCI\VEN_vvvv&DEV_dddd" (hex upper case). Boot installs the stack's
//   three services when their keys are missing. Strings are stored as UTF-16LE
//   with a terminating zero, as Windows stores them.

class __attribute__((visibility("default"))) Kernel {
public:
    virtual ~Kernel() = default;

    // Power on: hardware, registry, boot services, PCI enumeration, PnP drivers.
    // Returns null and sets *error on a failure; nothing is left running then.
    static std::unique_ptr<Kernel> boot(const BootOptions& options, std::string* error);
    // Power off: remove every device, unload drivers, save the registry.
    // Requests still running are cancelled and waited for (up to 10 s); every
    // call made afterwards fails as on a machine that is off.
    virtual void shutdown() = 0;

    virtual std::vector<MemoryRegion> memoryRegions() const = 0;

    // ---- user-mode I/O (NT status results) --------------------------------
    // path: "\\.\NAME" (a symbolic link) or a device-interface path.
    virtual NTSTATUS createFile(UserProcess& process, const std::string& path, uint64_t* fileHandle) = 0;
    // IRP_MJ_CLEANUP then IRP_MJ_CLOSE.
    virtual NTSTATUS closeFile(UserProcess& process, uint64_t fileHandle) = 0;
    // `output` may be the very memory of `input` (the daemon answers from the
    // request's buffer): all of the input is read before any output is written.
    virtual NTSTATUS deviceIoControl(UserProcess& process, uint64_t fileHandle, uint32_t code,
                                     const void* input, uint32_t inputLength, void* output,
                                     uint32_t outputLength, uint32_t* information) = 0;
    virtual NTSTATUS readFile(UserProcess& process, uint64_t fileHandle, void* buffer, uint32_t length,
                              uint32_t* information) = 0;
    virtual NTSTATUS writeFile(UserProcess& process, uint64_t fileHandle, const void* buffer, uint32_t length,
                               uint32_t* information) = 0;
    // The process is gone: close its files through cleanup and close.
    virtual void processExited(UserProcess& process) = 0;

    // Device-interface paths of the present interfaces of a class.
    virtual std::vector<std::string> interfacePaths(const Guid& interfaceClass) const = 0;

    // ---- registry (HKLM), absolute paths like "SYSTEM\\CurrentControlSet\\..." ----
    // type: REG_DWORD 4, REG_SZ 1, REG_BINARY 3 ... ; data as stored.
    virtual bool registryQuery(const std::string& keyPath, const std::string& valueName, uint32_t* type,
                               std::vector<uint8_t>* data) const = 0;
    virtual bool registrySet(const std::string& keyPath, const std::string& valueName, uint32_t type,
                             const std::vector<uint8_t>& data) = 0;
    virtual bool registryDelete(const std::string& keyPath, const std::string& valueName) = 0;
    virtual bool registryKeyExists(const std::string& keyPath) const = 0;
    virtual bool registryCreateKey(const std::string& keyPath) = 0;

    // ---- what a person does to the PC -----------------------------------------
    // Returns the new card's number, counted from 1 in bus order, or 0.
    virtual int plugTernCard(const lxm::TernCardConfig& card) = 0;
    // Safe removal sends query-remove first and fails (returns false) when a
    // driver refuses; surprise removal always removes.
    virtual bool unplugTernCard(int number, bool surprise) = 0;
    // The same for the audio functions of Heron cards, numbered apart.
    virtual int plugHeronAudio(const lxm::HeronAudioConfig& /*audio*/) { return 0; }
    virtual bool unplugHeronAudio(int /*number*/, bool /*surprise*/) { return false; }
    virtual bool setDisplayMode(uint32_t width, uint32_t height, uint32_t bits) = 0;
    // Connects a video source ("none", "bars", "stamp[:ID]", "image:PATH") to
    // input 0..3 of card `number` (counted as plugTernCard counts). On false
    // *error says why (no such card, input out of range, unusable source) and
    // the input keeps its old source.
    virtual bool setCardSource(int /*number*/, int /*input*/, const std::string& /*source*/, std::string* error) {
        if (error) *error = "this machine has no capture cards";
        return false;
    }
    // Sets the board switch (bits 0..3) of card `number`; false for no such card or bits above 3.
    virtual bool setCardSwitch(int /*number*/, uint32_t /*bits*/) { return false; }
    virtual lxm::DisplayConfig displayMode() const = 0;
    // The primary surface as user mode sees it (DirectDraw): the current mode
    // with its pitch and channel masks, and where its frame buffer lies.
    // All zero when the machine has no display adapter.
    struct DisplaySurface {
        uint32_t width = 0, height = 0, bits = 0, pitch = 0;
        uint32_t redMask = 0, greenMask = 0, blueMask = 0;
        uint64_t frameBufferPhysical = 0, frameBufferSize = 0;
    };
    virtual DisplaySurface displaySurface() const { return {}; }

    // Devices, loaded drivers, per process: open handles, contiguous blocks.
    // {"devices":[{"bus":0,"device":1,"function":0,"vendor":"0x4C58",
    //   "deviceId":"0x0D15","class":"0x0300","revision":"0x01","kind":"display","number":1,
    //   "instance":"PCI\\VEN_...","driver":"TernCardVI"|null,"state":"started",
    //   "problem":""}],
    //  "drivers":[{"name":"HMBServ","image":"/path/HMBServ.so","pnp":false}],
    //  "driverFailures":[{"name":"HeronAU","error":"cannot load ..."}],
    //  "processes":[{"pid":12,"handles":[{"handle":256,"path":"\\\\.\\HMBSERV",
    //   "device":"\\Device\\HMBServ"}],"contiguous":[{"physical":1048576,"size":4096}],
    //   "mappings":[{"userAddress":...,"physical":...,"size":...}]}],
    //  "system":{"contiguous":[...],"ramBytes":N,"contiguousFreeBytes":N,
    //   "interruptsDelivered":N}}
    // "number" counts functions of a kind in bus order from 1 (the card number
    // plugTernCard returns); a surprise-removed device has none. Audio
    // functions add "audio":{"portSpace":false,"rate":375,"blocks":N,
    // "interrupts":N} (blocks completed, times the line was raised).
    // Processes appear when they hold a handle, a block or a mapping; blocks
    // allocated outside any process request are under "system".
    virtual std::string statusJson() const = 0;

    // ---- hardware beyond the configuration (tests, new device models) ---------
    // Plugs a function into the first free device number of `bus` (from
    // `firstDevice`) and starts its driver; false when the bus is full.
    virtual bool plugFunction(std::shared_ptr<lxhw::PciFunction> function, uint32_t bus, uint32_t firstDevice,
                              uint32_t* device) = 0;
    virtual bool unplugFunction(uint32_t bus, uint32_t device, uint32_t function, bool surprise) = 0;
    // A resource rebalance: query-stop (a refusing driver gets cancel-stop and
    // false), then stop; startFunction starts the stopped device again.
    virtual bool stopFunction(uint32_t /*bus*/, uint32_t /*device*/, uint32_t /*function*/) { return false; }
    virtual bool startFunction(uint32_t /*bus*/, uint32_t /*device*/, uint32_t /*function*/) { return false; }
};

}  // namespace nt
