// The kernel as the machine daemon sees it: power on and off, user-mode I/O,
// the registry, and a person's hands on the hardware.
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "bug_check.h"
#include "dpc_queue.h"
#include "driver_loader.h"
#include "file_table.h"
#include "interrupt_controller.h"
#include "io_space.h"
#include "irp.h"
#include "json_writer.h"
#include "log.h"
#include "lxmachine/hw/device_factory.h"
#include "lxmachine/hw/display_adapter.h"
#include "lxmachine/hw/heron/heron_audio.h"
#include "lxmachine/hw/physical_memory.h"
#include "lxmachine/hw/terncard/terncard.h"
#include "memory_manager.h"
#include "nt/kernel_host.h"
#include "object_namespace.h"
#include "pnp_manager.h"
#include "process_notify.h"
#include "registry.h"
#include "request_gate.h"
#include "runtime.h"
#include "unicode_text.h"
#include "verifier.h"

namespace nt {
namespace {

constexpr uint32_t kTernCardFirstDevice = 8;
constexpr uint32_t kHeronFirstDevice = 16;

// The bridge at 0:0.0 that every PC has; it is there so bus 0 is never empty.
class HostBridge final : public lxhw::PciFunction {
public:
    HostBridge()
        : PciFunction(lxhw::PciIdentity{lxhw::pci::kLxVendor, lxhw::pci::kHostBridgeDevice, 0x06, 0x00, 0, 1,
                                        lxhw::pci::kLxVendor, 1},
                      {}, false) {}
    std::string kind() const override { return "host-bridge"; }
};

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

class KernelImpl final : public Kernel {
public:
    ~KernelImpl() override { shutdown(); }

    bool start(const BootOptions& options, std::string* error);

    void shutdown() override;
    std::vector<MemoryRegion> memoryRegions() const override;

    NTSTATUS createFile(UserProcess& process, const std::string& path, uint64_t* fileHandle) override {
        auto pass = gate_.enter();
        if (!pass) return STATUS_DEVICE_NOT_READY;
        return files_->create(process, path, fileHandle);
    }
    NTSTATUS closeFile(UserProcess& process, uint64_t fileHandle) override {
        auto pass = gate_.enter();
        if (!pass) return STATUS_INVALID_HANDLE;
        return files_->close(process, fileHandle);
    }
    NTSTATUS deviceIoControl(UserProcess& process, uint64_t fileHandle, uint32_t code, const void* input,
                             uint32_t inputLength, void* output, uint32_t outputLength,
                             uint32_t* information) override {
        auto pass = gate_.enter();
        if (!pass) return STATUS_INVALID_HANDLE;
        return files_->deviceControl(process, fileHandle, code, input, inputLength, output, outputLength, information);
    }
    NTSTATUS readFile(UserProcess& process, uint64_t fileHandle, void* buffer, uint32_t length,
                      uint32_t* information) override {
        auto pass = gate_.enter();
        if (!pass) return STATUS_INVALID_HANDLE;
        return files_->read(process, fileHandle, buffer, length, information);
    }
    NTSTATUS writeFile(UserProcess& process, uint64_t fileHandle, const void* buffer, uint32_t length,
                       uint32_t* information) override {
        auto pass = gate_.enter();
        if (!pass) return STATUS_INVALID_HANDLE;
        return files_->write(process, fileHandle, buffer, length, information);
    }
    void processExited(UserProcess& process) override {
        auto pass = gate_.enter();
        if (!pass) return;
        files_->processExited(process);
        // Drivers undo what they keep per process once its handles are gone.
        processNotify_->processExited(process);
        memory_->forgetProcess(process.processId());
    }

    std::vector<std::string> interfacePaths(const Guid& interfaceClass) const override;

    bool registryQuery(const std::string& keyPath, const std::string& valueName, uint32_t* type,
                       std::vector<uint8_t>* data) const override;
    bool registrySet(const std::string& keyPath, const std::string& valueName, uint32_t type,
                     const std::vector<uint8_t>& data) override;
    bool registryDelete(const std::string& keyPath, const std::string& valueName) override;
    bool registryKeyExists(const std::string& keyPath) const override;
    bool registryCreateKey(const std::string& keyPath) override;

    int plugTernCard(const lxm::TernCardConfig& card) override;
    bool unplugTernCard(int number, bool surprise) override;
    int plugHeronAudio(const lxm::HeronAudioConfig& audio) override;
    bool unplugHeronAudio(int number, bool surprise) override;
    bool setDisplayMode(uint32_t width, uint32_t height, uint32_t bits) override;
    bool setCardSource(int number, int input, const std::string& source, std::string* error) override;
    bool setCardSwitch(int number, uint32_t bits) override;
    lxm::DisplayConfig displayMode() const override;
    DisplaySurface displaySurface() const override;
    std::string statusJson() const override;

    bool plugFunction(std::shared_ptr<lxhw::PciFunction> function, uint32_t bus, uint32_t firstDevice,
                      uint32_t* device) override;
    bool unplugFunction(uint32_t bus, uint32_t device, uint32_t function, bool surprise) override;
    bool stopFunction(uint32_t bus, uint32_t device, uint32_t function) override {
        auto pass = gate_.enter();
        return pass && pnp_->stop({bus, device, function});
    }
    bool startFunction(uint32_t bus, uint32_t device, uint32_t function) override {
        auto pass = gate_.enter();
        return pass && pnp_->restart({bus, device, function});
    }

private:
    bool running() const { return running_.load(); }
    // Calls that change or read the machine hold a pass for their duration.
    mutable RequestGate gate_;
    void installDefaultServices();
    void startBootServices();
    void stop();

    std::atomic<bool> running_{false};
    std::mutex powerMutex_;
    lxm::MachineConfig config_;
    std::unique_ptr<Log> log_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<lxhw::PhysicalMemory> physical_;
    std::unique_ptr<InterruptController> interrupts_;
    std::unique_ptr<DpcQueue> dpcs_;
    std::unique_ptr<lxhw::PciBus> bus_;
    std::unique_ptr<IoSpace> ioSpace_;
    std::unique_ptr<MemoryManager> memory_;
    std::unique_ptr<ObjectNamespace> objects_;
    std::unique_ptr<DriverLoader> drivers_;
    std::unique_ptr<PnpManager> pnp_;
    std::unique_ptr<FileTable> files_;
    std::unique_ptr<ProcessNotify> processNotify_;
    std::shared_ptr<lxhw::DisplayAdapter> display_;
    Runtime runtime_;
};

std::mutex g_bootMutex;

bool KernelImpl::start(const BootOptions& options, std::string* error) {
    config_ = options.config;
    log_ = std::make_unique<Log>(options.log);
    if (config_.ramMb < 16 || config_.ramMb > 3072) {
        *error = "RAM must be between 16 and 3072 MiB";
        return false;
    }
    lxhw::DisplayMode mode;
    if (!lxhw::DisplayAdapter::modeFor(config_.display.width, config_.display.height, config_.display.bits,
                                       lxhw::DisplayAdapter::kDefaultVramSize, &mode)) {
        *error = "the display mode " + std::to_string(config_.display.width) + "x" +
                 std::to_string(config_.display.height) + "x" + std::to_string(config_.display.bits) +
                 " is not supported";
        return false;
    }
    if (config_.display.bus > 7) {
        *error = "the display adapter's bus must be 0 to 7";
        return false;
    }
    registry_ = Registry::open(options.registryFile, error);
    if (!registry_) return false;
    physical_ = lxhw::PhysicalMemory::create(uint64_t{config_.ramMb} << 20, lxhw::DisplayAdapter::kDefaultVramBase,
                                             lxhw::DisplayAdapter::kDefaultVramSize, error);
    if (!physical_) return false;
    interrupts_ = std::make_unique<InterruptController>();
    dpcs_ = std::make_unique<DpcQueue>();
    bus_ = std::make_unique<lxhw::PciBus>(std::max<uint32_t>(2, config_.display.bus + 1), interrupts_.get());
    ioSpace_ = std::make_unique<IoSpace>(*bus_);
    memory_ = std::make_unique<MemoryManager>(*physical_, uint64_t{config_.limits.contiguousMbPerProcess} << 20);
    objects_ = std::make_unique<ObjectNamespace>();
    drivers_ = std::make_unique<DriverLoader>(*registry_, options.driverDirectory);
    pnp_ = std::make_unique<PnpManager>(*bus_, *registry_, *drivers_, *objects_);
    files_ = std::make_unique<FileTable>(*objects_, *pnp_);
    processNotify_ = std::make_unique<ProcessNotify>();
    runtime_ = Runtime{log_.get(),    registry_.get(), objects_.get(), interrupts_.get(), dpcs_.get(),
                       memory_.get(), ioSpace_.get(),  drivers_.get(), pnp_.get(),        files_.get(),
                       physical_.get(), bus_.get(),    processNotify_.get()};
    setRuntime(&runtime_);
    installFaultHandlers(options.crashFile);
    verifier::enable(config_.kernel.verifier);
    setDriverWaitLimit(std::chrono::milliseconds(config_.kernel.driverTimeoutMs));
    running_ = true;
    gate_.open();
    if (!pnp_->init(error)) {
        stop();
        return false;
    }

    // The hardware present at power on.
    bus_->place({0, 0, 0}, std::make_shared<HostBridge>());
    display_ = std::make_shared<lxhw::DisplayAdapter>(lxhw::DisplayAdapter::kDefaultVramBase,
                                                      lxhw::DisplayAdapter::kDefaultVramSize, mode);
    bus_->place({config_.display.bus, config_.display.bus == 0 ? 1u : 0u, 0}, display_);
    for (const lxm::TernCardConfig& card : config_.terncards) {
        auto device = bus_->freeDevice(0, kTernCardFirstDevice);
        auto function = lxhw::makeDevice("terncard", lxhw::DeviceRequest{&config_, &card, nullptr, physical_.get()});
        // A configured source that cannot be used refuses the boot: a card silently
        // showing nothing on that input would look like a capture fault.
        const lxhw::tern::TernCard* tern = function ? lxhw::tern::asTernCard(function.get()) : nullptr;
        if (tern && !tern->setupErrors().empty()) {
            std::string why = tern->setupErrors();
            while (!why.empty() && why.back() == '\n') why.pop_back();
            std::replace(why.begin(), why.end(), '\n', ';');
            *error = "TernCard " + std::to_string(&card - config_.terncards.data() + 1) + " " + why;
            klog("%s", error->c_str());
            stop();
            return false;
        }
        if (!device || !function || !bus_->place({0, *device, 0}, function)) klog("no slot left for a TernCard");
    }
    for (const lxm::HeronAudioConfig& audio : config_.heronAudio) {
        auto device = bus_->freeDevice(0, kHeronFirstDevice);
        auto function = lxhw::makeDevice("heron_audio", lxhw::DeviceRequest{&config_, nullptr, &audio});
        if (!device || !function || !bus_->place({0, *device, 0}, function)) klog("no slot left for a Heron audio function");
    }

    installDefaultServices();
    startBootServices();
    pnp_->enumerate();
    klog("machine booted: %u MiB RAM, %zu PCI functions", config_.ramMb, bus_->functions().size());
    return true;
}

// The stack's drivers as an installation would have registered them.
void KernelImpl::installDefaultServices() {
    struct Service {
        const char* name;
        uint32_t start;
        std::vector<std::string> hardwareIds;
    };
    const std::vector<Service> services{
        {"HMBServ", 1, {}},
        {"TernCardVI", 3, {"PCI\\VEN_4C58&DEV_7E2C"}},
        {"HeronAU", 3, {"PCI\\VEN_4C58&DEV_4E20"}},
    };
    Registry::Batch batch(*registry_);
    for (const Service& service : services) {
        const std::string key = std::string(DriverLoader::kServicesKey) + "\\" + service.name;
        if (registry_->keyExists(key)) continue;
        registry_->setDword(key, "Type", 1);
        registry_->setDword(key, "Start", service.start);
        registry_->setDword(key, "ErrorControl", 1);
        registry_->setString(key, "ImagePath", std::string(service.name) + ".so");
        if (!service.hardwareIds.empty()) registry_->setMultiString(key, "HardwareIds", service.hardwareIds);
        // The installer also sets the static-memory size: 4096 pages (16 MiB).
        if (std::string(service.name) == "HMBServ")
            registry_->setDword(key + "\\Parameters", "RequiredMemorySize", 4096);
    }
}

void KernelImpl::startBootServices() {
    const std::string services = DriverLoader::kServicesKey;
    for (const std::string& name : registry_->subkeys(services)) {
        const std::string key = services + "\\" + name;
        uint32_t type = 0, start = 4;
        std::vector<std::string> ids;
        if (!registry_->queryDword(key, "Type", &type) || type != 1) continue;
        if (!registry_->queryDword(key, "Start", &start) || start > 2) continue;
        if (registry_->queryMultiString(key, "HardwareIds", &ids) && !ids.empty()) continue;
        drivers_->load(name);
    }
}

void KernelImpl::stop() {
    running_ = false;
    // Requests still running are cancelled and given time to leave; a
    // driver that never completes a cancelled request is reported.
    gate_.close();
    if (files_) files_->cancelAll();
    if (!gate_.waitEmpty(std::chrono::seconds(10))) {
        // Their callers stop waiting; the drivers keep the requests.
        if (files_) files_->abandonAll();
        if (!gate_.waitEmpty(std::chrono::seconds(5))) klog("power off: requests are still running in drivers");
    }
    if (files_) files_->closeAll();
    if (pnp_) pnp_->shutdown();
    if (drivers_) drivers_->unloadAll();
    // A DPC that never returns keeps its thread: the queue is left behind
    // rather than joined for ever.
    if (dpcs_ && !dpcs_->flush(driverWaitLimit())) static_cast<void>(dpcs_.release());
    if (registry_) {
        std::string error;
        if (!registry_->save(&error)) klog("registry: %s", error.c_str());
    }
    // Threads stop before what they use goes away.
    files_.reset();
    pnp_.reset();
    drivers_.reset();
    processNotify_.reset();
    interrupts_.reset();
    dpcs_.reset();
    if (bus_) {
        for (auto& [address, function] : bus_->functions()) {
            function->powerOff();
            bus_->remove(address);
        }
    }
    display_.reset();
    objects_.reset();
    ioSpace_.reset();
    memory_.reset();
    bus_.reset();
    physical_.reset();
    registry_.reset();
    removeFaultHandlers();
    setRuntime(nullptr);
}

void KernelImpl::shutdown() {
    std::lock_guard lock(powerMutex_);
    if (!running_ && !registry_) return;
    klog("machine shutting down");
    stop();
}

std::vector<MemoryRegion> KernelImpl::memoryRegions() const {
    std::vector<MemoryRegion> regions;
    auto pass = gate_.enter();
    if (!pass || !physical_) return regions;
    for (const lxhw::MemoryRange& range : physical_->ranges())
        regions.push_back(MemoryRegion{range.fd, range.physicalBase, range.size});
    return regions;
}

std::vector<std::string> KernelImpl::interfacePaths(const Guid& interfaceClass) const {
    std::vector<std::string> paths;
    auto pass = gate_.enter();
    if (!pass) return paths;
    for (const auto& entry : objects_->interfaces()) {
        const GUID& g = entry.guid;
        const bool same = g.Data1 == interfaceClass.data1 && g.Data2 == interfaceClass.data2 &&
                          g.Data3 == interfaceClass.data3 &&
                          std::equal(std::begin(g.Data4), std::end(g.Data4), std::begin(interfaceClass.data4));
        if (same && entry.enabled) paths.push_back("\\\\?\\" + entry.link.substr(4));
    }
    return paths;
}

bool KernelImpl::registryQuery(const std::string& keyPath, const std::string& valueName, uint32_t* type,
                               std::vector<uint8_t>* data) const {
    std::string path;
    Registry::Value value;
    auto pass = gate_.enter();
    if (!pass || !Registry::relativePath(keyPath, &path) || !registry_->query(path, valueName, &value)) return false;
    if (type) *type = value.type;
    if (data) *data = value.data;
    return true;
}

bool KernelImpl::registrySet(const std::string& keyPath, const std::string& valueName, uint32_t type,
                             const std::vector<uint8_t>& data) {
    std::string path;
    auto pass = gate_.enter();
    if (!pass || !Registry::relativePath(keyPath, &path) || path.empty()) return false;
    return registry_->set(path, valueName, Registry::Value{type, data});
}

bool KernelImpl::registryDelete(const std::string& keyPath, const std::string& valueName) {
    std::string path;
    auto pass = gate_.enter();
    return pass && Registry::relativePath(keyPath, &path) && registry_->remove(path, valueName);
}

bool KernelImpl::registryKeyExists(const std::string& keyPath) const {
    std::string path;
    auto pass = gate_.enter();
    return pass && Registry::relativePath(keyPath, &path) && registry_->keyExists(path);
}

bool KernelImpl::registryCreateKey(const std::string& keyPath) {
    std::string path;
    auto pass = gate_.enter();
    return pass && Registry::relativePath(keyPath, &path) && !path.empty() && registry_->createKey(path);
}

bool KernelImpl::plugFunction(std::shared_ptr<lxhw::PciFunction> function, uint32_t bus, uint32_t firstDevice,
                              uint32_t* device) {
    auto pass = gate_.enter();
    if (!pass || !function) return false;
    for (;;) {
        auto free = bus_->freeDevice(bus, firstDevice);
        if (!free) return false;
        if (pnp_->plug(function, {bus, *free, 0})) {
            if (device) *device = *free;
            return true;
        }
        firstDevice = *free + 1;  // taken meanwhile, or the address windows are full
        if (bus_->at({bus, *free, 0}) == nullptr) return false;
    }
}

bool KernelImpl::unplugFunction(uint32_t bus, uint32_t device, uint32_t function, bool surprise) {
    auto pass = gate_.enter();
    return pass && pnp_->unplug({bus, device, function}, surprise);
}

int KernelImpl::plugTernCard(const lxm::TernCardConfig& card) {
    auto pass = gate_.enter();
    if (!pass) return 0;
    auto function = lxhw::makeDevice("terncard", lxhw::DeviceRequest{&config_, &card, nullptr, physical_.get()});
    uint32_t device = 0;
    if (!function || !plugFunction(function, 0, kTernCardFirstDevice, &device)) return 0;
    return pnp_->numberOf("terncard", {0, device, 0});
}

bool KernelImpl::unplugTernCard(int number, bool surprise) {
    auto pass = gate_.enter();
    if (!pass) return false;
    auto address = pnp_->nthOfKind("terncard", number);
    return address && pnp_->unplug(*address, surprise);
}

int KernelImpl::plugHeronAudio(const lxm::HeronAudioConfig& audio) {
    auto pass = gate_.enter();
    if (!pass) return 0;
    auto function = lxhw::makeDevice("heron_audio", lxhw::DeviceRequest{&config_, nullptr, &audio});
    uint32_t device = 0;
    if (!function || !plugFunction(function, 0, kHeronFirstDevice, &device)) return 0;
    return pnp_->numberOf("heron_audio", {0, device, 0});
}

bool KernelImpl::unplugHeronAudio(int number, bool surprise) {
    auto pass = gate_.enter();
    if (!pass) return false;
    auto address = pnp_->nthOfKind("heron_audio", number);
    return address && pnp_->unplug(*address, surprise);
}

bool KernelImpl::setDisplayMode(uint32_t width, uint32_t height, uint32_t bits) {
    auto pass = gate_.enter();
    if (!pass || !display_->setMode(width, height, bits)) return false;
    config_.display.width = width;
    config_.display.height = height;
    config_.display.bits = bits;
    return true;
}

bool KernelImpl::setCardSource(int number, int input, const std::string& source, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    auto pass = gate_.enter();
    if (!pass) {
        *error = "the machine is off";
        return false;
    }
    // The PnP manager's lock is held while the card is looked up; the reference
    // keeps the model alive should it be unplugged meanwhile.
    std::shared_ptr<lxhw::PciFunction> function = pnp_->nthFunctionOfKind("terncard", number);
    lxhw::tern::TernCard* card = function ? lxhw::tern::asTernCard(function.get()) : nullptr;
    if (!card) {
        *error = "no capture card " + std::to_string(number);
        return false;
    }
    return card->setSource(input, source, error);
}

bool KernelImpl::setCardSwitch(int number, uint32_t bits) {
    auto pass = gate_.enter();
    if (!pass) return false;
    std::shared_ptr<lxhw::PciFunction> function = pnp_->nthFunctionOfKind("terncard", number);
    lxhw::tern::TernCard* card = function ? lxhw::tern::asTernCard(function.get()) : nullptr;
    std::string error;
    return card && card->setBoardSwitch(bits, &error);
}

Kernel::DisplaySurface KernelImpl::displaySurface() const {
    DisplaySurface surface;
    auto pass = gate_.enter();
    if (!pass || !display_) return surface;
    const lxhw::DisplayMode mode = display_->mode();
    surface.width = mode.width;
    surface.height = mode.height;
    surface.bits = mode.bits;
    surface.pitch = mode.pitch;
    surface.redMask = mode.redMask;
    surface.greenMask = mode.greenMask;
    surface.blueMask = mode.blueMask;
    surface.frameBufferPhysical = display_->vramBase();
    surface.frameBufferSize = display_->vramSize();
    return surface;
}

lxm::DisplayConfig KernelImpl::displayMode() const {
    lxm::DisplayConfig result = config_.display;
    auto pass = gate_.enter();
    if (pass && display_) {
        const lxhw::DisplayMode mode = display_->mode();
        result.width = mode.width;
        result.height = mode.height;
        result.bits = mode.bits;
    }
    return result;
}

namespace {

// The on-board controller's status byte and its record of command-channel
// transactions, for tests and diagnosis.
void writeControllerReport(JsonWriter& json, const lxhw::tern::BoardController& controller) {
    auto bytes = [&json](const std::vector<uint8_t>& values) {
        json.beginArray();
        for (uint8_t value : values) json.value(uint64_t{value});
        json.endArray();
    };
    json.key("controller").beginObject();
    json.key("status").value(uint64_t{controller.status()});
    json.key("channel").beginArray();
    for (const auto& transaction : controller.channelRecord()) {
        json.beginObject().key("number").value(transaction.number).key("sub").value(uint64_t{transaction.sub});
        json.key("written");
        bytes(transaction.written);
        json.key("read");
        bytes(transaction.read);
        json.endObject();
    }
    json.endArray().endObject();
}

void writeEngineReport(JsonWriter& json, const lxhw::tern::TernCard::EngineReport& engine) {
    json.key("engine").beginObject();
    json.key("running").value(engine.running);
    json.key("programStart").value(hex(engine.programStart, 8));
    json.key("programCounter").value(hex(engine.programCounter, 8));
    json.key("errorBits").value(hex(engine.errorBits, 8));
    json.key("fieldCount").value(uint64_t{engine.fieldCount});
    json.key("fieldNumber").value(engine.fieldNumber);
    json.endObject();
}

}  // namespace

std::string KernelImpl::statusJson() const {
    JsonWriter json;
    json.beginObject();
    auto pass = gate_.enter();
    if (!pass) {
        json.key("running").value(false).endObject();
        return json.str();
    }
    json.key("running").value(true);
    json.key("devices").beginArray();
    std::map<std::string, uint64_t> numbers;  // cards are counted per kind in bus order
    for (const auto& node : pnp_->nodes()) {
        json.beginObject();
        json.key("bus").value(uint64_t{node.address.bus});
        json.key("device").value(uint64_t{node.address.device});
        json.key("function").value(uint64_t{node.address.function});
        json.key("vendor").value(hex(node.identity.vendor, 4));
        json.key("deviceId").value(hex(node.identity.device, 4));
        json.key("class").value(hex(unsigned{node.identity.baseClass} << 8 | node.identity.subclass, 4));
        json.key("revision").value(hex(node.identity.revision, 2));
        json.key("kind").value(node.kind);
        uint64_t number = 0;
        if (node.state != "surprise-removed") json.key("number").value(number = ++numbers[node.kind]);
        json.key("instance").value(node.instanceId);
        json.key("driver");
        if (node.service.empty())
            json.null();
        else
            json.value(node.service);
        json.key("state").value(node.state);
        json.key("problem").value(node.problem);
        if (number != 0 && node.kind == "terncard") {
            std::shared_ptr<lxhw::PciFunction> function = pnp_->nthFunctionOfKind(node.kind, static_cast<int>(number));
            if (lxhw::tern::TernCard* card = function ? lxhw::tern::asTernCard(function.get()) : nullptr) {
                writeControllerReport(json, card->controller());
                writeEngineReport(json, card->engineReport());
            }
        }
        if (const auto* audio = lxhw::heron::asHeronAudio(node.function.get())) {
            json.key("audio").beginObject();
            json.key("portSpace").value(audio->portSpace());
            json.key("rate").value(static_cast<uint64_t>(audio->blockRate()));
            json.key("blocks").value(audio->blocksCompleted());
            json.key("interrupts").value(audio->interruptsRaised());
            json.endObject();
        }
        json.endObject();
    }
    json.endArray();
    json.key("drivers").beginArray();
    for (const LoadedDriver* driver : drivers_->loaded()) {
        json.beginObject().key("name").value(driver->service).key("image").value(driver->image);
        json.key("pnp").value(driver->pnp).endObject();
    }
    json.endArray();
    json.key("driverFailures").beginArray();
    for (const DriverFailure& failure : drivers_->failures())
        json.beginObject().key("name").value(failure.service).key("error").value(failure.error).endObject();
    json.endArray();

    struct ProcessReport {
        std::vector<FileTable::HandleInfo> handles;
        std::vector<MemoryManager::ContiguousBlock> blocks;
        std::vector<MemoryManager::UserView> views;
    };
    std::map<uint32_t, ProcessReport> processes;
    std::vector<MemoryManager::ContiguousBlock> systemBlocks;
    for (const auto& handle : files_->handles()) processes[handle.processId].handles.push_back(handle);
    for (const auto& block : memory_->contiguousBlocks()) {
        if (block.processId)
            processes[block.processId].blocks.push_back(block);
        else
            systemBlocks.push_back(block);
    }
    for (const auto& view : memory_->userViews()) processes[view.processId].views.push_back(view);
    auto writeBlocks = [&](const std::vector<MemoryManager::ContiguousBlock>& blocks) {
        json.beginArray();
        for (const auto& block : blocks)
            json.beginObject().key("physical").value(block.physical).key("size").value(block.size).endObject();
        json.endArray();
    };
    json.key("processes").beginArray();
    for (const auto& [pid, report] : processes) {
        json.beginObject().key("pid").value(uint64_t{pid});
        json.key("handles").beginArray();
        for (const auto& handle : report.handles) {
            json.beginObject().key("handle").value(handle.handle).key("path").value(handle.path);
            json.key("device").value(handle.device).endObject();
        }
        json.endArray();
        json.key("contiguous");
        writeBlocks(report.blocks);
        json.key("mappings").beginArray();
        for (const auto& view : report.views) {
            json.beginObject().key("userAddress").value(view.userAddress).key("physical").value(view.physical);
            json.key("size").value(view.size).endObject();
        }
        json.endArray().endObject();
    }
    json.endArray();
    json.key("system").beginObject();
    json.key("contiguous");
    writeBlocks(systemBlocks);
    json.key("ramBytes").value(physical_->ram().size);
    json.key("contiguousFreeBytes").value(physical_->allocator().freeBytes());
    json.key("interruptsDelivered").value(interrupts_->delivered());
    json.endObject();
    json.endObject();
    return json.str();
}

}  // namespace

std::unique_ptr<Kernel> Kernel::boot(const BootOptions& options, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    std::lock_guard lock(g_bootMutex);
    if (runtime()) {
        *error = "a machine already runs in this process";
        return nullptr;
    }
    auto kernel = std::make_unique<KernelImpl>();
    if (!kernel->start(options, error)) {
        kernel->shutdown();
        return nullptr;
    }
    return kernel;
}

}  // namespace nt
