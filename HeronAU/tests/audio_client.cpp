#include "audio_client.h"

namespace heronau_test {
namespace {

const GUID kAudioInterface = HERON_AUDIO_INTERFACE_GUID_INIT;

}  // namespace

std::string linkPath(int number) { return "\\\\.\\HeronAudioCap" + std::to_string(number); }

std::vector<std::string> interfacePaths() {
    std::vector<std::string> paths;
    HDEVINFO list = SetupDiGetClassDevsA(&kAudioInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE || list == nullptr) return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &kAudioInterface, index, &data)) break;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) break;
        std::vector<char> buffer(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr)) break;
        paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

HANDLE openPath(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

IoResult control(HANDLE audio, uint32_t code, const void* input, DWORD inputLength, void* output,
                 DWORD outputLength) {
    IoResult result;
    result.returned = 0xDEADBEEF;
    result.ok = DeviceIoControl(audio, code, const_cast<void*>(input), inputLength, output, outputLength,
                                &result.returned, nullptr) != FALSE;
    result.status = static_cast<uint32_t>(LxGetLastNtStatus());
    return result;
}

IoResult registerIo(HANDLE audio, uint32_t operation, uint32_t offset, uint32_t value, AudioRegisterRequest* answer) {
    const AudioRegisterRequest request{operation, offset, value};
    AudioRegisterRequest ignored{};
    if (!answer) answer = &ignored;
    return control(audio, IOCTL_AUDIO_REGISTER_IO, &request, sizeof request, answer, sizeof *answer);
}

bool readUlong(HANDLE audio, uint32_t offset, uint32_t* value) {
    AudioRegisterRequest answer{};
    if (!registerIo(audio, AUDIO_REG_READ_ULONG, offset, 0, &answer).ok) return false;
    *value = answer.Value;
    return true;
}

bool interruptCount(HANDLE audio, uint32_t* count) {
    return control(audio, IOCTL_AUDIO_GET_INTERRUPT_COUNT, nullptr, 0, count, sizeof *count).ok;
}

bool setInterruptCount(HANDLE audio, uint32_t count) {
    AudioConfig config{};
    config.InterruptCount = count;
    return control(audio, IOCTL_AUDIO_SET_CONFIG, &config, sizeof config, nullptr, 0).ok;
}

bool raiseAndSettle(HANDLE audio, uint32_t causes) {
    if (!registerIo(audio, AUDIO_REG_WRITE_ULONG, kCauseSetRegister, causes, nullptr).ok) return false;
    return eventually([&] {
        uint32_t status = 0xFFFFFFFF;
        return readUlong(audio, AUDIO_STATUS_REGISTER, &status) && status == 0;
    });
}

WaitInFlight::WaitInFlight(HANDLE audio) : audio_(audio) {
    thread_ = std::thread([this] {
        const IoResult result = control(audio_, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0);
        status_.store(result.status);
        ok_.store(result.ok);
        done_.store(true);
    });
}

WaitInFlight::~WaitInFlight() {
    if (thread_.joinable()) thread_.join();
}

bool WaitInFlight::done() const { return done_.load(); }

bool WaitInFlight::finish(int timeoutMs) {
    if (!eventually([this] { return done(); }, timeoutMs)) return false;
    thread_.join();
    return true;
}

}  // namespace heronau_test
