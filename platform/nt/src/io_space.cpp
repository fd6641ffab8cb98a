#include "io_space.h"

#include <sys/mman.h>

#include <cstring>
#include <mutex>

#include "log.h"
#include "lxmachine/hw/physical_memory.h"
#include "ntddk.h"
#include "runtime.h"

namespace nt {

IoSpace::IoSpace(lxhw::PciBus& bus) : bus_(bus) {}

IoSpace::~IoSpace() {
    for (const auto& [base, window] : windows_) munmap(reinterpret_cast<void*>(base), window.reserved);
}

void* IoSpace::map(uint64_t physical, uint64_t length) {
    if (length == 0) return nullptr;
    auto first = bus_.decodeMemory(physical);
    auto last = bus_.decodeMemory(physical + length - 1);
    if (!first || !last || first->function != last->function || first->bar != last->bar) return nullptr;
    const uint64_t reserved = (length + 0xFFF) & ~uint64_t{0xFFF};
    void* base = mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    std::unique_lock lock(mutex_);
    windows_[reinterpret_cast<uintptr_t>(base)] = Window{length, reserved, physical};
    return base;
}

bool IoSpace::unmap(void* address) {
    Window window{};
    {
        std::unique_lock lock(mutex_);
        auto it = windows_.find(reinterpret_cast<uintptr_t>(address));
        if (it == windows_.end()) return false;
        window = it->second;
        windows_.erase(it);
    }
    munmap(address, window.reserved);
    return true;
}

size_t IoSpace::mappings() const {
    std::shared_lock lock(mutex_);
    return windows_.size();
}

std::optional<uint64_t> IoSpace::physicalOf(const volatile void* address, unsigned size) const {
    const auto value = reinterpret_cast<uintptr_t>(address);
    std::shared_lock lock(mutex_);
    auto it = windows_.upper_bound(value);
    if (it == windows_.begin()) return std::nullopt;
    --it;
    const uint64_t offset = value - it->first;
    if (offset >= it->second.reserved) return std::nullopt;
    if (offset + size > it->second.length) {
        klog("register access at offset 0x%llx runs past the mapped window of 0x%llx bytes",
             static_cast<unsigned long long>(offset), static_cast<unsigned long long>(it->second.length));
    }
    return it->second.physical + offset;
}

bool IoSpace::read(const volatile void* address, unsigned size, uint32_t* value) const {
    auto physical = physicalOf(address, size);
    if (!physical) return false;
    auto target = bus_.decodeMemory(*physical);
    // A device that is gone (or no longer decodes) reads as a floating bus.
    *value = target ? target->function->barRead(target->bar, target->offset, size)
                    : (size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1);
    return true;
}

bool IoSpace::write(volatile void* address, unsigned size, uint32_t value) const {
    auto physical = physicalOf(address, size);
    if (!physical) return false;
    if (auto target = bus_.decodeMemory(*physical)) target->function->barWrite(target->bar, target->offset, size, value);
    return true;
}

uint32_t IoSpace::readPort(uint64_t port, unsigned size) const {
    auto target = bus_.decodeIo(port);
    if (!target) return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
    return target->function->barRead(target->bar, target->offset, size);
}

void IoSpace::writePort(uint64_t port, unsigned size, uint32_t value) const {
    if (auto target = bus_.decodeIo(port)) target->function->barWrite(target->bar, target->offset, size, value);
}

}  // namespace nt

using namespace nt;

namespace {

IoSpace* ioSpace() {
    Runtime* rt = runtime();
    return rt ? rt->ioSpace : nullptr;
}

template <typename T>
T readRegister(volatile T* address) {
    uint32_t value = 0;
    IoSpace* io = ioSpace();
    if (io && io->read(address, sizeof(T), &value)) return static_cast<T>(value);
    T plain = *address;
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    return plain;
}

template <typename T>
void writeRegister(volatile T* address, T value) {
    IoSpace* io = ioSpace();
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    if (io && io->write(address, sizeof(T), value)) return;
    *address = value;
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
}

template <typename T>
T readPort(T* port) {
    IoSpace* io = ioSpace();
    if (!io) return static_cast<T>(~T{0});
    return static_cast<T>(io->readPort(reinterpret_cast<uintptr_t>(port), sizeof(T)));
}

template <typename T>
void writePort(T* port, T value) {
    if (IoSpace* io = ioSpace()) io->writePort(reinterpret_cast<uintptr_t>(port), sizeof(T), value);
}

}  // namespace

extern "C" {

PVOID MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes, MEMORY_CACHING_TYPE) {
    Runtime* rt = runtime();
    if (!rt || NumberOfBytes == 0) return nullptr;
    const auto physical = static_cast<uint64_t>(PhysicalAddress.QuadPart);
    // Memory (RAM, VRAM) is reached directly through the machine's view of it.
    if (uint8_t* host = rt->physicalMemory->hostAddress(physical, NumberOfBytes)) return host;
    void* window = rt->ioSpace->map(physical, NumberOfBytes);
    if (!window)
        klog("MmMapIoSpace: 0x%llx (+0x%zx) is neither memory nor one device's registers",
             static_cast<unsigned long long>(physical), static_cast<size_t>(NumberOfBytes));
    return window;
}

VOID MmUnmapIoSpace(PVOID BaseAddress, SIZE_T) {
    Runtime* rt = runtime();
    if (!rt || !BaseAddress) return;
    if (rt->physicalMemory->physicalAddressOf(BaseAddress)) return;
    if (!rt->ioSpace->unmap(BaseAddress)) klog("MmUnmapIoSpace: %p was not mapped", BaseAddress);
}

UCHAR READ_REGISTER_UCHAR(volatile UCHAR* Register) { return readRegister(Register); }
USHORT READ_REGISTER_USHORT(volatile USHORT* Register) { return readRegister(Register); }
ULONG READ_REGISTER_ULONG(volatile ULONG* Register) { return readRegister(Register); }
VOID WRITE_REGISTER_UCHAR(volatile UCHAR* Register, UCHAR Value) { writeRegister(Register, Value); }
VOID WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value) { writeRegister(Register, Value); }
VOID WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) { writeRegister(Register, Value); }

VOID READ_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, PUCHAR Buffer, ULONG Count) {
    for (ULONG i = 0; i < Count; ++i) Buffer[i] = readRegister(Register);
}

VOID WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, PUCHAR Buffer, ULONG Count) {
    for (ULONG i = 0; i < Count; ++i) writeRegister(Register, Buffer[i]);
}

UCHAR READ_PORT_UCHAR(PUCHAR Port) { return readPort(Port); }
USHORT READ_PORT_USHORT(PUSHORT Port) { return readPort(Port); }
ULONG READ_PORT_ULONG(PULONG Port) { return readPort(Port); }
VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) { writePort(Port, Value); }
VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value) { writePort(Port, Value); }
VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value) { writePort(Port, Value); }

}  // extern "C"
