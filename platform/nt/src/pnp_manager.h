// The PnP manager and the PCI bus driver: a physical device object per PCI
// function, drivers matched by hardware identifier, and the start, query,
// stop and remove sequences a person's plugging and unplugging causes.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device_node.h"

namespace nt {

class Registry;
class DriverLoader;
class ObjectNamespace;

class PnpManager {
public:
    PnpManager(lxhw::PciBus& bus, Registry& registry, DriverLoader& drivers, ObjectNamespace& objects);
    ~PnpManager();
    PnpManager(const PnpManager&) = delete;
    PnpManager& operator=(const PnpManager&) = delete;

    bool init(std::string* error);
    // Boot: a node for every function on the bus, drivers added and started.
    void enumerate();
    // Hot plug: places the function and starts its driver. Null when the slot is taken.
    DeviceNode* plug(std::shared_ptr<lxhw::PciFunction> function, const lxhw::PciAddress& address);
    // Safe removal fails when a driver refuses query-remove; surprise removal
    // always removes (the remove itself waits for the last open handle).
    bool unplug(const lxhw::PciAddress& address, bool surprise);
    // A resource rebalance: query-stop (a refusal is undone with cancel-stop)
    // then stop; restart sends the start with the same resources again.
    bool stop(const lxhw::PciAddress& address);
    bool restart(const lxhw::PciAddress& address);
    // A file on some device was closed: a surprise-removed device may now be removed.
    void fileClosed();
    // Power off: every stack removed, every PDO deleted.
    void shutdown();

    struct NodeInfo {
        lxhw::PciAddress address;
        std::string kind;
        lxhw::PciIdentity identity;
        std::string instanceId;
        std::string service;
        std::string state;
        std::string problem;
        std::shared_ptr<lxhw::PciFunction> function;  // the model, for its own report
    };
    std::vector<NodeInfo> nodes() const;
    // Address of the n-th (from 1) present function of a kind, in bus order.
    std::optional<lxhw::PciAddress> nthOfKind(const std::string& kind, int number) const;
    int numberOf(const std::string& kind, const lxhw::PciAddress& address) const;
    // The n-th (from 1) present function of a kind itself, or null; the
    // caller's reference keeps the model alive through a concurrent unplug.
    std::shared_ptr<lxhw::PciFunction> nthFunctionOfKind(const std::string& kind, int number) const;

    static NTSTATUS busDispatch(PDEVICE_OBJECT device, PIRP irp);

private:
    DeviceNode* addNode(std::shared_ptr<lxhw::PciFunction> function, const lxhw::PciAddress& address);
    void startNode(DeviceNode& node);
    bool sendStart(DeviceNode& node);
    DeviceNode* find(const lxhw::PciAddress& address);
    void removeNode(DeviceNode& node);
    // The remove request; under the verifier nothing may still be pending on the stack after it.
    void sendRemove(DeviceNode& node);
    IO_STATUS_BLOCK sendPnp(DeviceNode& node, UCHAR minor,
                            const std::function<void(PIO_STACK_LOCATION)>& setup = {});
    std::string matchService(const DeviceNode& node) const;
    static int openFiles(const DeviceNode& node);
    void buildResources(DeviceNode& node);
    void reapRemoved();
    void worker();

    lxhw::PciBus& bus_;
    Registry& registry_;
    DriverLoader& drivers_;
    ObjectNamespace& objects_;
    PDRIVER_OBJECT busDriver_ = nullptr;
    uint32_t nextPdoNumber_ = 1;

    mutable std::recursive_mutex mutex_;  // serialises every PnP action
    std::vector<std::unique_ptr<DeviceNode>> nodes_;

    std::mutex workerMutex_;
    std::condition_variable workerWake_;
    bool workerPending_ = false;
    bool workerStop_ = false;
    std::thread workerThread_;
};

}  // namespace nt
