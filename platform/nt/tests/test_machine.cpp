#include "test_machine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace nttest {

const nt::Guid kTestInterfaceGuid{0x5B3C1E40, 0x8F2A, 0x4C61, {0x9D, 0x7E, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};

std::string driverPath() { return LX_NT_TEST_DRIVER; }

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// ---- FakeProcess ----------------------------------------------------------------------
FakeProcess::~FakeProcess() {
    for (const auto& [address, view] : views_) munmap(reinterpret_cast<void*>(address), view.length);
}

uint64_t FakeProcess::mapPhysical(uint64_t physical, uint64_t length) {
    for (const nt::MemoryRegion& region : regions_) {
        if (physical < region.physicalBase || physical + length > region.physicalBase + region.size) continue;
        void* view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, region.fd,
                          static_cast<off_t>(physical - region.physicalBase));
        if (view == MAP_FAILED) return 0;
        std::lock_guard lock(mutex_);
        views_[reinterpret_cast<uint64_t>(view)] = View{physical, length};
        return reinterpret_cast<uint64_t>(view);
    }
    return 0;
}

bool FakeProcess::unmapView(uint64_t userAddress) {
    std::lock_guard lock(mutex_);
    auto it = views_.find(userAddress);
    if (it == views_.end()) return false;
    munmap(reinterpret_cast<void*>(userAddress), it->second.length);
    views_.erase(it);
    return true;
}

uint64_t FakeProcess::physicalAddressOf(uint64_t userAddress) const {
    std::lock_guard lock(mutex_);
    auto it = views_.upper_bound(userAddress);
    if (it == views_.begin()) return 0;
    --it;
    if (userAddress - it->first >= it->second.length) return 0;
    return it->second.physical + (userAddress - it->first);
}

size_t FakeProcess::views() const {
    std::lock_guard lock(mutex_);
    return views_.size();
}

// ---- TestFunction ----------------------------------------------------------------------
namespace {

std::array<lxhw::BarDescription, lxhw::pci::kBarCount> testBars() {
    std::array<lxhw::BarDescription, lxhw::pci::kBarCount> bars{};
    bars[0] = {0x1000, false, false, false};
    bars[1] = {0x20, true, false, false};
    return bars;
}

}  // namespace

TestFunction::TestFunction()
    : PciFunction(lxhw::PciIdentity{kVendor, kDevice, 0xFF, 0x00, 0, 0x03, kVendor, 0x0042}, testBars(), true) {}

uint32_t TestFunction::barRead(int bar, uint64_t offset, unsigned size) {
    std::lock_guard lock(mutex_);
    if (bar == 1) return offset == 0 ? port_ : 0xFF;
    if (bar != 0 || size != 4) return PciFunction::barRead(bar, offset, size);
    switch (offset) {
    case kRegId: return kIdValue;
    case kRegScratch: return scratch_;
    case kRegIrqStatus: return status_;
    case kRegReadCount: return ++reads_;
    default: return 0;
    }
}

void TestFunction::barWrite(int bar, uint64_t offset, unsigned size, uint32_t value) {
    std::unique_lock lock(mutex_);
    if (bar == 1) {
        if (offset == 0) port_ = static_cast<uint8_t>(value);
        return;
    }
    if (bar != 0 || size != 4) return;
    switch (offset) {
    case kRegScratch: scratch_ = value; break;
    case kRegIrqRaise:
        status_ |= value;
        lock.unlock();
        if (value) raiseInterrupt();
        break;
    case kRegIrqStatus:
        status_ &= ~value;
        if (status_ == 0) {
            lock.unlock();
            lowerInterrupt();
        }
        break;
    default: break;
    }
}

// ---- fixture -----------------------------------------------------------------------------
void KernelTest::SetUp() {
    // The child of a death test never reaches TearDown: it makes its
    // directory inside its parent's, which the parent removes.
    const char* parent = std::getenv(kScratchParentVariable);
    std::string pattern = std::string(parent != nullptr ? parent : "/tmp") + "/nt-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    registryFile_ = directory_ + "/registry";
    config_.ramMb = 64;
    config_.terncards.clear();
    config_.kernel.verifier = true;
    boot();
}

void KernelTest::TearDown() {
    process_.reset();
    if (kernel_) kernel_->shutdown();
    kernel_.reset();
    std::filesystem::remove_all(directory_);
}

void KernelTest::boot() {
    nt::BootOptions options;
    options.config = config_;
    options.registryFile = registryFile_;
    options.driverDirectory = std::filesystem::path(driverPath()).parent_path();
    // A death test names the file its child writes the bug check's record to.
    if (const char* crash = std::getenv("LX_NT_TEST_CRASH_FILE")) options.crashFile = crash;
    options.log = [this](const std::string& line) {
        std::lock_guard lock(logMutex_);
        log_.push_back(line);
    };
    std::string error;
    kernel_ = nt::Kernel::boot(options, &error);
    ASSERT_TRUE(kernel_) << error;
    process_ = std::make_unique<FakeProcess>(100, kernel_->memoryRegions());
}

uint32_t KernelTest::plugTestDevice() {
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\NtTest";
    auto dword = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    auto utf16 = [](const std::string& s, bool multi) {
        std::vector<uint8_t> out;
        for (char c : s) out.insert(out.end(), {uint8_t(c), 0});
        out.insert(out.end(), {0, 0});
        if (multi) out.insert(out.end(), {0, 0});
        return out;
    };
    EXPECT_TRUE(kernel_->registrySet(key, "Type", 4, dword(1)));
    EXPECT_TRUE(kernel_->registrySet(key, "Start", 4, dword(3)));
    EXPECT_TRUE(kernel_->registrySet(key, "ImagePath", 1, utf16(driverPath(), false)));
    EXPECT_TRUE(kernel_->registrySet(key, "HardwareIds", 7, utf16("pci\\ven_4c58&dev_7e57", true)));
    uint32_t device = 0;
    EXPECT_TRUE(kernel_->plugFunction(std::make_shared<TestFunction>(), 1, 4, &device));
    return device;
}

nt::NTSTATUS KernelTest::ioctl(nt::UserProcess& process, uint64_t handle, uint32_t code, const void* in,
                               uint32_t inLength, void* out, uint32_t outLength, uint32_t* information) {
    uint32_t ignored = 0;
    return kernel_->deviceIoControl(process, handle, code, in, inLength, out, outLength,
                                    information ? information : &ignored);
}

std::unique_ptr<PendingWait> KernelTest::startWait(nt::UserProcess& process, uint64_t handle) {
    auto wait = std::make_unique<PendingWait>();
    wait->thread = std::thread([this, &process, handle, w = wait.get()] {
        uint32_t count = 0, information = 0;
        w->status = ioctl(process, handle, kIoctlWait, nullptr, 0, &count, 4, &information);
        w->count = count;
        w->information = information;
    });
    return wait;
}

Counts KernelTest::counts(uint64_t handle) {
    Counts c{};
    EXPECT_EQ(ioctl(*process_, handle, kIoctlCounts, nullptr, 0, &c, sizeof c), 0);
    return c;
}

uint64_t KernelTest::open(const std::string& path) {
    uint64_t handle = 0;
    EXPECT_EQ(kernel_->createFile(*process_, path, &handle), 0) << path;
    return handle;
}

}  // namespace nttest
