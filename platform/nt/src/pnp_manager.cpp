#include "pnp_manager.h"

#include <algorithm>
#include <cstring>

#include "bug_check.h"
#include "device_runtime.h"
#include "driver_loader.h"
#include "interrupt_controller.h"
#include "irp.h"
#include "log.h"
#include "object_namespace.h"
#include "registry.h"
#include "unicode_text.h"
#include "verifier.h"

namespace nt {
namespace {

// Interrupt level a line is given in translated resources (a device IRQL).
KIRQL deviceIrql(uint8_t line) { return static_cast<KIRQL>(12 + line % 12); }

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

const char* nodeStateName(NodeState state) {
    switch (state) {
    case NodeState::Present: return "present";
    case NodeState::Added: return "added";
    case NodeState::Started: return "started";
    case NodeState::Stopped: return "stopped";
    case NodeState::QueryRemoved: return "query-removed";
    case NodeState::SurpriseRemoved: return "surprise-removed";
    case NodeState::Removed: return "removed";
    case NodeState::Failed: return "failed";
    }
    return "unknown";
}

PnpManager::PnpManager(lxhw::PciBus& bus, Registry& registry, DriverLoader& drivers, ObjectNamespace& objects)
    : bus_(bus), registry_(registry), drivers_(drivers), objects_(objects) {}

PnpManager::~PnpManager() {
    {
        std::lock_guard lock(workerMutex_);
        workerStop_ = true;
    }
    workerWake_.notify_all();
    if (workerThread_.joinable()) workerThread_.join();
    DriverLoader::freeDriverObject(busDriver_);
}

bool PnpManager::init(std::string* error) {
    busDriver_ = DriverLoader::makeDriverObject("PCI");
    if (!busDriver_) {
        *error = "out of pool for the PCI bus driver";
        return false;
    }
    busDriver_->MajorFunction[IRP_MJ_PNP] = busDispatch;
    busDriver_->MajorFunction[IRP_MJ_POWER] = busDispatch;
    busDriver_->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = busDispatch;
    workerThread_ = std::thread([this] { worker(); });
    return true;
}

// ---- the PCI bus driver's dispatch for its PDOs -----------------------------------
NTSTATUS PnpManager::busDispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DeviceNode* node = deviceRuntime(device)->node;
    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
        switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL: status = STATUS_SUCCESS; break;
        case IRP_MN_QUERY_CAPABILITIES: {
            PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
            if (!caps || !node) {
                status = STATUS_INVALID_PARAMETER;
                break;
            }
            caps->Address = node->address.device << 16 | node->address.function;
            caps->UINumber = node->address.device;
            caps->Removable = 1;
            caps->SurpriseRemovalOK = 1;
            caps->UniqueID = 0;
            caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
            for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s) caps->DeviceState[s] = PowerDeviceD3;
            caps->SystemWake = PowerSystemUnspecified;
            caps->DeviceWake = PowerDeviceUnspecified;
            status = STATUS_SUCCESS;
            break;
        }
        default: break;  // not handled: the status stays as it came
        }
        break;
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        if (stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER)
            status = STATUS_SUCCESS;
        break;
    case IRP_MJ_SYSTEM_CONTROL: break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    irp->IoStatus.Status = status;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- nodes --------------------------------------------------------------------------
DeviceNode* PnpManager::addNode(std::shared_ptr<lxhw::PciFunction> function, const lxhw::PciAddress& address) {
    auto node = std::make_unique<DeviceNode>();
    node->address = address;
    node->function = std::move(function);
    const lxhw::PciIdentity& id = node->function->identity();
    const std::string venDev = "PCI\\VEN_" + hex(id.vendor, 4) + "&DEV_" + hex(id.device, 4);
    const std::string subsys = "&SUBSYS_" + hex(uint32_t{id.subsystem} << 16 | id.subsystemVendor, 8);
    const std::string rev = "&REV_" + hex(id.revision, 2);
    node->hardwareIds = {venDev + subsys + rev, venDev + subsys, venDev + rev, venDev};
    node->instanceId = venDev + subsys + rev + "\\" + std::to_string(address.bus) + "&" + hex(address.device, 2) +
                       "&" + hex(address.function, 1);
    char name[48];
    std::snprintf(name, sizeof name, "\\Device\\NTPNP_PCI%04u", nextPdoNumber_++);
    UNICODE_STRING pdoName{};
    makeUnicodeString(name, &pdoName);
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS status = IoCreateDevice(busDriver_, 0, &pdoName, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &pdo);
    RtlFreeUnicodeString(&pdoName);
    if (!NT_SUCCESS(status)) {
        klog("pnp: cannot create the device object of %s", node->instanceId.c_str());
        return nullptr;
    }
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    deviceRuntime(pdo)->node = node.get();
    node->pdo = pdo;
    buildResources(*node);
    nodes_.push_back(std::move(node));
    std::sort(nodes_.begin(), nodes_.end(), [](const auto& a, const auto& b) {
        return std::tie(a->address.bus, a->address.device, a->address.function) <
               std::tie(b->address.bus, b->address.device, b->address.function);
    });
    for (auto& n : nodes_) {
        if (n->pdo == pdo) return n.get();
    }
    return nullptr;
}

// Raw and translated lists: one memory or port descriptor per BAR, then the
// interrupt (raw: the line; translated: vector and device IRQL).
void PnpManager::buildResources(DeviceNode& node) {
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> raw, translated;
    lxhw::PciFunction& function = *node.function;
    for (int index = 0; index < lxhw::pci::kBarCount; ++index) {
        const lxhw::BarDescription& bar = function.bar(index);
        if (bar.size == 0) continue;
        CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
        d.ShareDisposition = CmResourceShareDeviceExclusive;
        if (bar.io) {
            d.Type = CmResourceTypePort;
            d.Flags = CM_RESOURCE_PORT_IO;
            d.u.Port.Start.QuadPart = static_cast<LONGLONG>(function.barAddress(index));
            d.u.Port.Length = static_cast<ULONG>(bar.size);
        } else {
            d.Type = CmResourceTypeMemory;
            d.Flags = bar.prefetchable ? CM_RESOURCE_MEMORY_PREFETCHABLE : CM_RESOURCE_MEMORY_READ_WRITE;
            d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(function.barAddress(index));
            d.u.Memory.Length = static_cast<ULONG>(bar.size);
        }
        raw.push_back(d);
        translated.push_back(d);
    }
    if (function.usesInterrupt() && function.interruptLine() < InterruptController::kLines) {
        const uint8_t line = function.interruptLine();
        CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
        d.Type = CmResourceTypeInterrupt;
        d.ShareDisposition = CmResourceShareShared;
        d.Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
        d.u.Interrupt.Level = line;
        d.u.Interrupt.Vector = line;
        d.u.Interrupt.Affinity = ~KAFFINITY{0};
        raw.push_back(d);
        d.u.Interrupt.Level = deviceIrql(line);
        d.u.Interrupt.Vector = InterruptController::kVectorBase + line;
        d.u.Interrupt.Affinity = 1;
        translated.push_back(d);
    }
    auto pack = [&](const std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR>& partials, std::vector<uint8_t>* out) {
        const size_t count = std::max<size_t>(partials.size(), 1);
        out->assign(offsetof(CM_RESOURCE_LIST, List) + offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
                        offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors) +
                        count * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR),
                    0);
        auto* list = reinterpret_cast<PCM_RESOURCE_LIST>(out->data());
        list->Count = 1;
        list->List[0].InterfaceType = PCIBus;
        list->List[0].BusNumber = node.address.bus;
        list->List[0].PartialResourceList.Version = 1;
        list->List[0].PartialResourceList.Revision = 1;
        list->List[0].PartialResourceList.Count = static_cast<ULONG>(partials.size());
        if (!partials.empty())
            std::memcpy(list->List[0].PartialResourceList.PartialDescriptors, partials.data(),
                        partials.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    };
    pack(raw, &node.rawResources);
    pack(translated, &node.translatedResources);
}

std::string PnpManager::matchService(const DeviceNode& node) const {
    const std::string services = DriverLoader::kServicesKey;
    for (const std::string& id : node.hardwareIds) {
        for (const std::string& service : registry_.subkeys(services)) {
            std::vector<std::string> ids;
            if (!registry_.queryMultiString(services + "\\" + service, "HardwareIds", &ids)) continue;
            for (const std::string& candidate : ids) {
                if (equalsIgnoreCase(candidate, id)) return service;
            }
        }
    }
    return {};
}

IO_STATUS_BLOCK PnpManager::sendPnp(DeviceNode& node, UCHAR minor,
                                    const std::function<void(PIO_STACK_LOCATION)>& setup) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node.pdo);
    auto result = sendAndWaitBounded(
        top,
        [&](PIRP, PIO_STACK_LOCATION stack) {
            stack->MajorFunction = IRP_MJ_PNP;
            stack->MinorFunction = minor;
            if (setup) setup(stack);
        },
        driverWaitLimit());
    if (result) return *result;
    IO_STATUS_BLOCK abandoned{};
    abandoned.Status = STATUS_IO_TIMEOUT;
    return abandoned;
}

void PnpManager::sendRemove(DeviceNode& node) {
    const std::vector<verifier::StackMember> stack = verifier::stackOf(node.pdo);
    sendPnp(node, IRP_MN_REMOVE_DEVICE);
    if (node.driver) {
        DriverCallScope call(node.driver->object, "IRP_MJ_PNP (IRP_MN_REMOVE_DEVICE)");
        verifier::checkNothingPending(stack);
    }
}

void PnpManager::startNode(DeviceNode& node) {
    node.service = matchService(node);
    if (node.service.empty()) return;  // no driver serves it: it stays present
    LoadedDriver* driver = drivers_.load(node.service);
    if (!driver) {
        node.state = NodeState::Failed;
        node.problem = "driver did not load";
        return;
    }
    if (!driver->pnp) {
        node.state = NodeState::Failed;
        node.problem = "driver has no AddDevice";
        return;
    }
    node.driver = driver;
    NTSTATUS status;
    {
        DriverCallScope call(driver->object, "AddDevice");
        status = driver->object->DriverExtension->AddDevice(driver->object, node.pdo);
    }
    if (!NT_SUCCESS(status)) {
        node.state = NodeState::Failed;
        char text[48];
        std::snprintf(text, sizeof text, "AddDevice failed with 0x%08X", static_cast<unsigned>(status));
        node.problem = text;
        return;
    }
    node.state = NodeState::Added;
    DEVICE_CAPABILITIES caps{};
    caps.Size = sizeof caps;
    caps.Version = 1;
    caps.Address = caps.UINumber = 0xFFFFFFFF;
    sendPnp(node, IRP_MN_QUERY_CAPABILITIES,
            [&](PIO_STACK_LOCATION stack) { stack->Parameters.DeviceCapabilities.Capabilities = &caps; });
    if (!sendStart(node)) {
        sendRemove(node);
        node.state = NodeState::Failed;
    }
}

bool PnpManager::sendStart(DeviceNode& node) {
    IO_STATUS_BLOCK started = sendPnp(node, IRP_MN_START_DEVICE, [&](PIO_STACK_LOCATION stack) {
        stack->Parameters.StartDevice.AllocatedResources = reinterpret_cast<PCM_RESOURCE_LIST>(node.rawResources.data());
        stack->Parameters.StartDevice.AllocatedResourcesTranslated =
            reinterpret_cast<PCM_RESOURCE_LIST>(node.translatedResources.data());
    });
    if (!NT_SUCCESS(started.Status)) {
        char text[48];
        std::snprintf(text, sizeof text, "start failed with 0x%08X", static_cast<unsigned>(started.Status));
        node.problem = text;
        klog("pnp: %s: %s", node.instanceId.c_str(), text);
        return false;
    }
    node.problem.clear();
    node.state = NodeState::Started;
    return true;
}

DeviceNode* PnpManager::find(const lxhw::PciAddress& address) {
    for (auto& node : nodes_) {
        if (node->address == address) return node.get();
    }
    return nullptr;
}

bool PnpManager::stop(const lxhw::PciAddress& address) {
    std::lock_guard lock(mutex_);
    DeviceNode* node = find(address);
    if (!node || node->state != NodeState::Started) return false;
    IO_STATUS_BLOCK query = sendPnp(*node, IRP_MN_QUERY_STOP_DEVICE);
    if (!NT_SUCCESS(query.Status)) {
        sendPnp(*node, IRP_MN_CANCEL_STOP_DEVICE);
        return false;
    }
    sendPnp(*node, IRP_MN_STOP_DEVICE);
    node->state = NodeState::Stopped;
    return true;
}

bool PnpManager::restart(const lxhw::PciAddress& address) {
    std::lock_guard lock(mutex_);
    DeviceNode* node = find(address);
    if (!node || node->state != NodeState::Stopped) return false;
    if (sendStart(*node)) return true;
    node->state = NodeState::Failed;
    return false;
}

int PnpManager::openFiles(const DeviceNode& node) {
    int count = 0;
    for (PDEVICE_OBJECT d = node.pdo; d; d = d->AttachedDevice)
        count += __atomic_load_n(&d->ReferenceCount, __ATOMIC_SEQ_CST);
    return count;
}

// Sends the remove to the stack (when a driver is on it), then the bus
// driver deletes the PDO and an unused driver is unloaded.
void PnpManager::removeNode(DeviceNode& node) {
    if (node.driver && node.pdo->AttachedDevice) sendRemove(node);
    node.state = NodeState::Removed;
    objects_.dropInterfacesOf(node.pdo);
    if (node.pdo->AttachedDevice) klog("pnp: a driver stayed attached to %s after its removal", node.instanceId.c_str());
    deviceRuntime(node.pdo)->node = nullptr;
    IoDeleteDevice(node.pdo);
    node.pdo = nullptr;
    if (LoadedDriver* driver = node.driver) {
        node.driver = nullptr;
        const bool stillUsed = std::any_of(nodes_.begin(), nodes_.end(),
                                           [&](const auto& other) { return other->driver == driver; });
        if (!stillUsed && !driver->object->DeviceObject) drivers_.unload(driver);
    }
    auto function = bus_.remove(node.address);
    if (function) function->powerOff();
    std::erase_if(nodes_, [&](const auto& n) { return n.get() == &node; });
}

void PnpManager::enumerate() {
    std::lock_guard lock(mutex_);
    for (auto& [address, function] : bus_.functions()) addNode(function, address);
    std::vector<DeviceNode*> all;
    for (auto& node : nodes_) all.push_back(node.get());
    for (DeviceNode* node : all) startNode(*node);
}

DeviceNode* PnpManager::plug(std::shared_ptr<lxhw::PciFunction> function, const lxhw::PciAddress& address) {
    std::lock_guard lock(mutex_);
    if (!bus_.place(address, function)) return nullptr;
    DeviceNode* node = addNode(function, address);
    if (!node) {
        bus_.remove(address);
        return nullptr;
    }
    startNode(*node);
    return node;
}

bool PnpManager::unplug(const lxhw::PciAddress& address, bool surprise) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n->address == address; });
    if (it == nodes_.end()) return false;
    DeviceNode& node = **it;
    if (node.state == NodeState::SurpriseRemoved) return true;  // already gone, waiting for its handles
    const bool driverOnStack = node.driver && node.pdo->AttachedDevice;
    if (!surprise) {
        if (driverOnStack && node.state != NodeState::Failed) {
            IO_STATUS_BLOCK query = sendPnp(node, IRP_MN_QUERY_REMOVE_DEVICE);
            if (!NT_SUCCESS(query.Status)) {
                sendPnp(node, IRP_MN_CANCEL_REMOVE_DEVICE);
                klog("pnp: %s refused its removal (0x%08X)", node.instanceId.c_str(),
                     static_cast<unsigned>(query.Status));
                return false;
            }
            node.state = NodeState::QueryRemoved;
        }
        removeNode(node);
        return true;
    }
    // The card is pulled: it stops answering before any driver hears of it.
    if (auto function = bus_.remove(node.address)) function->powerOff();
    if (driverOnStack && node.state != NodeState::Failed) {
        node.state = NodeState::SurpriseRemoved;
        sendPnp(node, IRP_MN_SURPRISE_REMOVAL);
        if (openFiles(node) > 0) return true;  // removed when the last handle closes
    }
    removeNode(node);
    return true;
}

void PnpManager::reapRemoved() {
    std::lock_guard lock(mutex_);
    for (;;) {
        auto it = std::find_if(nodes_.begin(), nodes_.end(), [](const auto& n) {
            return n->state == NodeState::SurpriseRemoved && openFiles(*n) == 0;
        });
        if (it == nodes_.end()) return;
        removeNode(**it);
    }
}

void PnpManager::fileClosed() {
    {
        std::lock_guard lock(workerMutex_);
        workerPending_ = true;
    }
    workerWake_.notify_all();
}

void PnpManager::worker() {
    std::unique_lock lock(workerMutex_);
    for (;;) {
        workerWake_.wait(lock, [this] { return workerStop_ || workerPending_; });
        if (workerStop_) return;
        workerPending_ = false;
        lock.unlock();
        reapRemoved();
        lock.lock();
    }
}

void PnpManager::shutdown() {
    std::lock_guard lock(mutex_);
    while (!nodes_.empty()) {
        DeviceNode& node = *nodes_.back();
        if (node.driver && node.pdo && node.pdo->AttachedDevice && node.state != NodeState::Failed &&
            node.state != NodeState::SurpriseRemoved) {
            // The system goes to S5 before its devices are removed.
            sendAndWaitBounded(
                IoGetAttachedDeviceReference(node.pdo),
                [](PIRP, PIO_STACK_LOCATION stack) {
                    stack->MajorFunction = IRP_MJ_POWER;
                    stack->MinorFunction = IRP_MN_SET_POWER;
                    stack->Parameters.Power.Type = SystemPowerState;
                    stack->Parameters.Power.State.SystemState = PowerSystemShutdown;
                    stack->Parameters.Power.ShutdownType = PowerActionShutdownOff;
                },
                driverWaitLimit());
        }
        removeNode(node);
    }
}

std::vector<PnpManager::NodeInfo> PnpManager::nodes() const {
    std::lock_guard lock(mutex_);
    std::vector<NodeInfo> result;
    for (const auto& node : nodes_) {
        result.push_back(NodeInfo{node->address, node->function->kind(), node->function->identity(), node->instanceId,
                                  node->service, nodeStateName(node->state), node->problem, node->function});
    }
    return result;
}

std::optional<lxhw::PciAddress> PnpManager::nthOfKind(const std::string& kind, int number) const {
    std::lock_guard lock(mutex_);
    int seen = 0;
    for (const auto& node : nodes_) {
        if (node->function->kind() != kind || node->state == NodeState::SurpriseRemoved) continue;
        if (++seen == number) return node->address;
    }
    return std::nullopt;
}

std::shared_ptr<lxhw::PciFunction> PnpManager::nthFunctionOfKind(const std::string& kind, int number) const {
    std::lock_guard lock(mutex_);
    int seen = 0;
    for (const auto& node : nodes_) {
        if (node->function->kind() != kind || node->state == NodeState::SurpriseRemoved) continue;
        if (++seen == number) return node->function;
    }
    return nullptr;
}

int PnpManager::numberOf(const std::string& kind, const lxhw::PciAddress& address) const {
    std::lock_guard lock(mutex_);
    int seen = 0;
    for (const auto& node : nodes_) {
        if (node->function->kind() != kind || node->state == NodeState::SurpriseRemoved) continue;
        ++seen;
        if (node->address == address) return seen;
    }
    return 0;
}

}  // namespace nt
