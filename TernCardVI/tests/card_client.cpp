#include "card_client.h"

#include <cstdlib>

namespace terncardvi_test {
namespace {

const GUID kCardInterface = TERNCARD_INTERFACE_GUID_INIT;

// The interface member's path, by the two-call detail query of the card library.
bool interfacePath(HDEVINFO list, DWORD index, std::string* path) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &kCardInterface, index, &data)) return false;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr)) return false;
    *path = detail->DevicePath;
    return true;
}

}  // namespace

std::vector<std::string> cardInterfacePaths() {
    std::vector<std::string> paths;
    HDEVINFO list = SetupDiGetClassDevsA(&kCardInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE || list == nullptr) return paths;
    std::string path;
    for (DWORD index = 0; interfacePath(list, index, &path); ++index) paths.push_back(path);
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

HANDLE openPath(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE openCard(int index) {
    const std::vector<std::string> paths = cardInterfacePaths();
    if (index < 0 || static_cast<size_t>(index) >= paths.size()) return INVALID_HANDLE_VALUE;
    return openPath(paths[static_cast<size_t>(index)]);
}

IoResult control(HANDLE card, uint32_t code, const void* input, DWORD inputLength, void* output, DWORD outputLength) {
    IoResult result;
    result.returned = 0xDEADBEEF;
    result.ok = DeviceIoControl(card, code, const_cast<void*>(input), inputLength, output, outputLength,
                                &result.returned, nullptr) != FALSE;
    result.error = result.ok ? 0 : GetLastError();
    result.status = static_cast<uint32_t>(LxGetLastNtStatus());
    return result;
}

IoResult registerRequest(HANDLE card, uint32_t operation, uint32_t offset, uint32_t value, void* output,
                         DWORD outputLength) {
    const RegisterRequest request{operation, offset, value};
    return control(card, IOCTL_TERN_REG_ACCESS, &request, sizeof request, output, outputLength);
}

bool readWord(HANDLE card, uint32_t offset, uint32_t* value) {
    return registerRequest(card, TERN_REG_READ_WORD, offset, 0, value, sizeof *value).ok;
}

bool writeWord(HANDLE card, uint32_t offset, uint32_t value) {
    RegisterRequest echo{};
    return registerRequest(card, TERN_REG_WRITE_WORD, offset, value, &echo, sizeof echo).ok;
}

}  // namespace terncardvi_test
