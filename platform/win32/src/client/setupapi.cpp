// SetupAPI device-interface lists: a snapshot of the interface paths of one
// class, taken from the machine's kernel when the list is made.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "machine_session.h"

namespace lx::win32::client {

namespace wire = lxm::wire;

namespace {

struct DeviceInfoList {
    GUID interfaceClass;
    std::vector<std::string> paths;
};

// Lists handed out and not yet destroyed; an HDEVINFO is checked against it.
std::mutex listsLock;
std::set<DeviceInfoList*>& lists() {
    static auto* s = new std::set<DeviceInfoList*>;
    return *s;
}

DeviceInfoList* listOf(HDEVINFO handle) {
    std::lock_guard guard(listsLock);
    auto* list = static_cast<DeviceInfoList*>(handle);
    return lists().contains(list) ? list : nullptr;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace
}  // namespace lx::win32::client

using namespace lx::win32::client;

WIN32_API HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR /*enumerator*/, HWND /*parent*/,
                                               DWORD flags) {
    if (!(flags & DIGCF_DEVICEINTERFACE) || (flags & DIGCF_ALLCLASSES)) {
        // Only interface lists of one class are kept by this machine.
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    if (!classGuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    wire::GuidRecord guid{classGuid->Data1, classGuid->Data2, classGuid->Data3, {}};
    std::memcpy(guid.data4, classGuid->Data4, sizeof guid.data4);
    wire::PayloadWriter w;
    w.record(guid);
    auto reply = callMachine(wire::Op::InterfacePaths, w.data());
    if (!reply || reply->status != 0) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return INVALID_HANDLE_VALUE;
    }
    auto* list = new DeviceInfoList{*classGuid, {}};
    // The machine lists interfaces that are present; DIGCF_PRESENT asks for just that.
    const auto& data = reply->data;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != 0) continue;
        list->paths.emplace_back(reinterpret_cast<const char*>(data.data()) + start, i - start);
        start = i + 1;
    }
    std::lock_guard guard(listsLock);
    lists().insert(list);
    SetLastError(ERROR_SUCCESS);
    return list;
}

WIN32_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA /*deviceInfoData*/,
                                                  const GUID* interfaceClassGuid, DWORD memberIndex,
                                                  PSP_DEVICE_INTERFACE_DATA data) {
    DeviceInfoList* list = listOf(set);
    if (!list) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!interfaceClassGuid || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!sameGuid(*interfaceClassGuid, list->interfaceClass) || memberIndex >= list->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = list->interfaceClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = memberIndex;
    return TRUE;
}

WIN32_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                                       PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfoData) {
    DeviceInfoList* list = listOf(set);
    if (!list) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved >= list->paths.size() ||
        (deviceInfoData && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(data ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A buffer pointer and its size come together; the record's cbSize is the
    // size of its fixed part, not of the buffer.
    if ((detail == nullptr) != (detailSize == 0) ||
        (detail && (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
                    detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::string& path = list->paths[data->Reserved];
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (deviceInfoData) {
        deviceInfoData->ClassGuid = list->interfaceClass;
        deviceInfoData->DevInst = static_cast<DWORD>(data->Reserved + 1);
    }
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

WIN32_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    DeviceInfoList* list = nullptr;
    {
        std::lock_guard guard(listsLock);
        auto* candidate = static_cast<DeviceInfoList*>(set);
        if (lists().erase(candidate) == 1) list = candidate;
    }
    if (!list) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete list;
    return TRUE;
}
