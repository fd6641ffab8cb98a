#include "fake_kernel.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "lxmachine/nt_status_codes.h"
#include "lxmachine/stamp_source_name.h"

namespace lxhw {
class PciFunction;
}

namespace lxm::testing {

namespace {

namespace st = lxm::ntstatus;
using nt::NTSTATUS;

constexpr const char* kInterfacePath = "\\\\?\\PCI#FAKE_ECHO#1#{8b0b849e-5ba2-4dae-88da-cf4ac99daa37}";

class FakeKernel final : public nt::Kernel {
public:
    explicit FakeKernel(const nt::BootOptions& options) : options_(options), display_(options.config.display) {
        ram_ = ::memfd_create("fake-ram", MFD_CLOEXEC);
        [[maybe_unused]] int rc = ::ftruncate(ram_, kFakeRamSize);
        cards_ = static_cast<int>(options.config.terncards.size());
        loadRegistry();
    }
    ~FakeKernel() override { ::close(ram_); }

    void shutdown() override { saveRegistry(); }

    std::vector<nt::MemoryRegion> memoryRegions() const override { return {{ram_, kFakeRamBase, kFakeRamSize}}; }

    NTSTATUS createFile(nt::UserProcess& process, const std::string& path, uint64_t* file) override {
        if (path != "\\\\.\\ECHO" && path != kInterfacePath) return st::kObjectNameNotFound;
        std::lock_guard lock(lock_);
        *file = nextFile_++;
        open_[*file] = process.processId();
        return st::kSuccess;
    }

    NTSTATUS closeFile(nt::UserProcess& process, uint64_t file) override {
        std::lock_guard lock(lock_);
        auto it = open_.find(file);
        if (it == open_.end() || it->second != process.processId()) return st::kInvalidHandle;
        open_.erase(it);
        closed_.notify_all();
        return st::kSuccess;
    }

    NTSTATUS deviceIoControl(nt::UserProcess& process, uint64_t file, uint32_t code, const void* input,
                             uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* information) override {
        *information = 0;
        {
            std::lock_guard lock(lock_);
            auto it = open_.find(file);
            if (it == open_.end() || it->second != process.processId()) return st::kInvalidHandle;
        }
        switch (code) {
        case kIoctlEcho:
            if (outputLength < inputLength) return st::kBufferTooSmall;
            std::memmove(output, input, inputLength);  // the output may be the input's memory
            *information = inputLength;
            return st::kSuccess;
        case kIoctlExact:
            return inputLength == 4 ? st::kSuccess : st::kInvalidParameter;
        case kIoctlBlock: {
            std::unique_lock lock(lock_);
            bool closed = closed_.wait_for(lock, std::chrono::seconds(30), [&] { return !open_.contains(file); });
            return closed ? st::kCancelled : st::kIoTimeout;
        }
        case kIoctlMap: {
            if (inputLength != 17 || outputLength != 8) return st::kInvalidParameter;
            uint64_t physical, length;
            uint8_t fill;
            std::memcpy(&physical, input, 8);
            std::memcpy(&length, static_cast<const uint8_t*>(input) + 8, 8);
            fill = static_cast<const uint8_t*>(input)[16];
            if (physical >= kFakeRamBase && physical - kFakeRamBase < kFakeRamSize &&
                length <= kFakeRamSize - (physical - kFakeRamBase)) {
                std::vector<uint8_t> bytes(length, fill);
                [[maybe_unused]] ssize_t n = ::pwrite(ram_, bytes.data(), bytes.size(), physical - kFakeRamBase);
            }
            uint64_t address = process.mapPhysical(physical, length);
            std::memcpy(output, &address, 8);
            *information = 8;
            return address ? st::kSuccess : st::kInsufficientResources;
        }
        case kIoctlUnmap: {
            if (inputLength != 8) return st::kInvalidParameter;
            uint64_t address;
            std::memcpy(&address, input, 8);
            return process.unmapView(address) ? st::kSuccess : st::kInvalidParameter;
        }
        case kIoctlPhysical: {
            if (inputLength != 8 || outputLength != 8) return st::kInvalidParameter;
            uint64_t address;
            std::memcpy(&address, input, 8);
            uint64_t physical = process.physicalAddressOf(address);
            std::memcpy(output, &physical, 8);
            *information = 8;
            return st::kSuccess;
        }
        case kIoctlHang: {
            std::unique_lock lock(lock_);
            const uint64_t generation = unhangs_;
            closed_.wait_for(lock, std::chrono::seconds(60), [&] { return unhangs_ != generation; });
            return st::kSuccess;
        }
        case kIoctlUnhang: {
            std::lock_guard lock(lock_);
            ++unhangs_;
            closed_.notify_all();
            return st::kSuccess;
        }
        case kIoctlWarning:
            if (outputLength < 4) return st::kBufferTooSmall;
            std::memset(output, 0xAB, outputLength < 8 ? outputLength : 8);
            *information = outputLength < 8 ? outputLength : 8;
            return st::kBufferOverflow;
        default:
            return st::kInvalidDeviceRequest;
        }
    }

    NTSTATUS readFile(nt::UserProcess&, uint64_t, void* buffer, uint32_t length, uint32_t* information) override {
        std::memset(buffer, 0x5A, length);
        *information = length;
        return st::kSuccess;
    }
    NTSTATUS writeFile(nt::UserProcess&, uint64_t, const void*, uint32_t length, uint32_t* information) override {
        *information = length;
        return st::kSuccess;
    }

    void processExited(nt::UserProcess& process) override {
        std::lock_guard lock(lock_);
        for (auto it = open_.begin(); it != open_.end();)
            it = it->second == process.processId() ? open_.erase(it) : std::next(it);
        exited_.insert(process.processId());
        closed_.notify_all();
    }

    std::vector<std::string> interfacePaths(const nt::Guid& guid) const override {
        if (guid == kEchoInterface) return {kInterfacePath};
        return {};
    }

    bool registryQuery(const std::string& key, const std::string& value, uint32_t* type,
                       std::vector<uint8_t>* data) const override {
        std::lock_guard lock(lock_);
        auto k = registry_.find(key);
        if (k == registry_.end()) return false;
        auto v = k->second.find(value);
        if (v == k->second.end()) return false;
        *type = v->second.first;
        *data = v->second.second;
        return true;
    }
    bool registrySet(const std::string& key, const std::string& value, uint32_t type,
                     const std::vector<uint8_t>& data) override {
        std::lock_guard lock(lock_);
        auto k = registry_.find(key);
        if (k == registry_.end()) return false;
        k->second[value] = {type, data};
        return true;
    }
    bool registryDelete(const std::string& key, const std::string& value) override {
        std::lock_guard lock(lock_);
        auto k = registry_.find(key);
        return k != registry_.end() && k->second.erase(value) == 1;
    }
    bool registryKeyExists(const std::string& key) const override {
        std::lock_guard lock(lock_);
        return registry_.contains(key);
    }
    bool registryCreateKey(const std::string& key) override {
        std::lock_guard lock(lock_);
        registry_[key];
        return true;
    }

    int plugTernCard(const lxm::TernCardConfig&) override { return ++cards_; }
    bool unplugTernCard(int number, bool surprise) override {
        std::lock_guard lock(lock_);
        if (number < 1 || number > cards_) return false;
        if (!surprise && !open_.empty()) return false;  // the driver refuses while a handle is open
        --cards_;
        return true;
    }
    // Audio functions: their window kinds in plug order ("port" or "memory").
    int plugHeronAudio(const lxm::HeronAudioConfig& audio) override {
        std::lock_guard lock(lock_);
        audio_.push_back(audio.port ? "port" : "memory");
        return static_cast<int>(audio_.size());
    }
    bool unplugHeronAudio(int number, bool surprise) override {
        std::lock_guard lock(lock_);
        if (number < 1 || number > static_cast<int>(audio_.size())) return false;
        if (!surprise && !open_.empty()) return false;
        audio_.erase(audio_.begin() + (number - 1));
        return true;
    }
    bool setDisplayMode(uint32_t w, uint32_t h, uint32_t bits) override {
        if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) return false;
        display_ = {w, h, bits, display_.bus};
        return true;
    }
    lxm::DisplayConfig displayMode() const override { return display_; }
    // Accepts what the card model accepts, an image only as an existing
    // absolute path; status lists every input connected and every switch set.
    bool setCardSource(int number, int input, const std::string& source, std::string* error) override {
        std::lock_guard lock(lock_);
        if (number < 1 || number > cards_) {
            *error = "no capture card " + std::to_string(number);
            return false;
        }
        const bool image = source.rfind("image:", 0) == 0 && source.size() > 7 && source[6] == '/' &&
                           std::filesystem::is_regular_file(source.substr(6));
        if (input < 0 || input > 3 || (source != "none" && source != "bars" && !lxm::stampSourceId(source) && !image)) {
            *error = "cannot use '" + source + "' on input " + std::to_string(input);
            return false;
        }
        sources_ += (sources_.empty() ? "\"" : ",\"") + std::to_string(number) + "/" + std::to_string(input) +
                    "=" + source + "\"";
        return true;
    }
    bool setCardSwitch(int number, uint32_t bits) override {
        std::lock_guard lock(lock_);
        if (number < 1 || number > cards_ || bits > 3) return false;
        switches_ += (switches_.empty() ? "\"" : ",\"") + std::to_string(number) + "=" + std::to_string(bits) + "\"";
        return true;
    }

    // Arbitrary PCI functions are not modelled by this kernel.
    bool plugFunction(std::shared_ptr<lxhw::PciFunction>, uint32_t, uint32_t, uint32_t*) override { return false; }
    bool unplugFunction(uint32_t, uint32_t, uint32_t, bool) override { return false; }

    std::string statusJson() const override {
        std::lock_guard lock(lock_);
        std::string exited;
        for (uint32_t id : exited_) exited += (exited.empty() ? "" : ",") + std::to_string(id);
        std::string audio;
        for (const std::string& kind : audio_) audio += (audio.empty() ? "\"" : ",\"") + kind + "\"";
        return "{\"kernel\":\"fake\",\"cards\":" + std::to_string(cards_) +
               ",\"openFiles\":" + std::to_string(open_.size()) + ",\"exitedProcesses\":[" + exited +
               "],\"sources\":[" + sources_ + "],\"switches\":[" + switches_ + "],\"audio\":[" + audio + "]}";
    }

private:
    // One line per value: key \t name \t type \t hex data
    void loadRegistry() {
        std::ifstream in(options_.registryFile);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string key, name, hex;
            uint32_t type = 0;
            std::getline(fields, key, '\t');
            std::getline(fields, name, '\t');
            fields >> type;
            fields.ignore(1);
            std::getline(fields, hex);
            std::vector<uint8_t> data;
            for (size_t i = 0; i + 1 < hex.size(); i += 2) data.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
            if (name == "-") {
                registry_[key];
            } else {
                registry_[key][name.substr(1)] = {type, data};
            }
        }
    }
    void saveRegistry() const {
        std::ofstream out(options_.registryFile, std::ios::trunc);
        for (const auto& [key, values] : registry_) {
            out << key << "\t-\t0\t\n";
            for (const auto& [name, value] : values) {
                out << key << "\t=" << name << "\t" << value.first << "\t";
                for (uint8_t b : value.second) {
                    char buf[3];
                    std::snprintf(buf, sizeof buf, "%02x", b);
                    out << buf;
                }
                out << "\n";
            }
        }
    }

    nt::BootOptions options_;
    int ram_ = -1;
    mutable std::mutex lock_;
    std::condition_variable closed_;
    std::map<uint64_t, uint32_t> open_;  // file -> process
    std::set<uint32_t> exited_;
    uint64_t unhangs_ = 0;
    uint64_t nextFile_ = 0x100;
    int cards_ = 0;
    std::vector<std::string> audio_;
    std::string sources_;   // JSON strings "card/input=source", in order
    std::string switches_;  // JSON strings "card=bits", in order
    lxm::DisplayConfig display_;
    std::map<std::string, std::map<std::string, std::pair<uint32_t, std::vector<uint8_t>>>> registry_;
};

}  // namespace

std::unique_ptr<nt::Kernel> bootFakeKernel(const nt::BootOptions& options, std::string* error) {
    // A machine without RAM cannot boot: lets tests see a boot failure.
    if (options.config.ramMb == 16) {
        *error = "fake kernel: not enough memory";
        return nullptr;
    }
    return std::make_unique<FakeKernel>(options);
}

}  // namespace lxm::testing
