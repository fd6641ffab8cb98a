// The registry: persistence across power cycles, boot-start services, the
// Zw and Rtl routines drivers use.
#include <ntddk.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_machine.h"

namespace nttest {
namespace {

class RegistryTest : public KernelTest {};

std::vector<uint8_t> dword(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::vector<uint8_t> utf16(const std::string& s) {
    std::vector<uint8_t> out;
    for (char c : s) out.insert(out.end(), {uint8_t(c), 0});
    out.insert(out.end(), {0, 0});
    return out;
}

TEST_F(RegistryTest, ValuesAndBootServicesSurviveAPowerCycle) {
    const std::string legacy = "SYSTEM\\CurrentControlSet\\Services\\NtTestLegacy";
    ASSERT_TRUE(kernel_->registrySet(legacy, "Type", 4, dword(1)));
    ASSERT_TRUE(kernel_->registrySet(legacy, "Start", 4, dword(1)));
    ASSERT_TRUE(kernel_->registrySet(legacy, "ImagePath", 1, utf16(driverPath())));
    ASSERT_TRUE(kernel_->registrySet("\\Registry\\Machine\\" + legacy + "\\Parameters", "Greeting", 4, dword(41)));
    ASSERT_TRUE(kernel_->registrySet("SOFTWARE\\Lx\\Test", "Blob", 3, {1, 2, 3}));
    ASSERT_TRUE(kernel_->registrySet("SOFTWARE\\Lx\\Test", "Gone", 4, dword(5)));
    EXPECT_TRUE(kernel_->registryDelete("software\\lx\\test", "gone"));
    EXPECT_FALSE(kernel_->registryDelete("SOFTWARE\\Lx\\Test", "Gone"));
    ASSERT_TRUE(kernel_->registryCreateKey("SOFTWARE\\Lx\\Empty"));
    uint64_t handle = 0;
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NtLegacy", &handle), STATUS_OBJECT_NAME_NOT_FOUND);

    kernel_->shutdown();
    kernel_.reset();
    boot();

    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(kernel_->registryQuery("SOFTWARE\\LX\\TEST", "blob", &type, &data));
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(kernel_->registryQuery("SOFTWARE\\Lx\\Test", "Gone", &type, &data));
    EXPECT_TRUE(kernel_->registryKeyExists("HKLM\\SOFTWARE\\Lx\\Empty"));
    EXPECT_FALSE(kernel_->registryKeyExists("SOFTWARE\\Lx\\Missing"));

    // The boot-start service came up at power on, read its parameter and answered its link.
    ASSERT_TRUE(kernel_->registryQuery(legacy + "\\Parameters", "Loaded", &type, &data));
    EXPECT_EQ(data, dword(42));
    ASSERT_EQ(kernel_->createFile(*process_, "\\\\.\\NTLEGACY", &handle), STATUS_SUCCESS);
    uint8_t in = 0x0F, out = 0;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlEcho, &in, 1, &out, 1), STATUS_SUCCESS);
    EXPECT_EQ(out, 0x55);
    // Its device is exclusive: one file at a time.
    uint64_t second = 0;
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NtLegacy", &second), STATUS_ACCESS_DENIED);
    kernel_->closeFile(*process_, handle);
    ASSERT_EQ(kernel_->createFile(*process_, "\\\\.\\NtLegacy", &second), STATUS_SUCCESS);
    kernel_->closeFile(*process_, second);

    // The stack's own services are installed; their missing files are reported, not fatal.
    ASSERT_TRUE(kernel_->registryQuery("SYSTEM\\CurrentControlSet\\Services\\HMBServ", "Start", &type, &data));
    EXPECT_EQ(data, dword(1));
    ASSERT_TRUE(kernel_->registryQuery("SYSTEM\\CurrentControlSet\\Services\\HMBServ", "ImagePath", &type, &data));
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(data, utf16("HMBServ.so"));
    EXPECT_NE(kernel_->statusJson().find("\"driverFailures\":[{\"name\":\"HMBServ\""), std::string::npos);
}

TEST_F(RegistryTest, ADamagedFileStopsTheBootAndIsKept) {
    kernel_->shutdown();
    kernel_.reset();
    {
        std::ofstream out(registryFile_);
        out << "LXREGISTRY 1\nK 41\nV zz 4 01000000\n";
    }
    nt::BootOptions options;
    options.registryFile = registryFile_;
    std::string error;
    EXPECT_EQ(nt::Kernel::boot(options, &error), nullptr);
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    std::ifstream in(registryFile_);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "LXREGISTRY 1\nK 41\nV zz 4 01000000\n");
    std::remove(registryFile_.c_str());
    boot();
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST_F(RegistryTest, AFileCutShortOrAlteredRefusesToBootAndTheLastGoodCopyIsKept) {
    ASSERT_TRUE(kernel_->registryCreateKey("SOFTWARE\\Lx\\Kept"));
    ASSERT_TRUE(kernel_->registrySet("SOFTWARE\\Lx\\Kept", "First", 4, dword(1)));
    ASSERT_TRUE(kernel_->registrySet("SOFTWARE\\Lx\\Kept", "Last", 4, dword(2)));
    process_.reset();
    kernel_->shutdown();
    kernel_.reset();
    const std::string saved = fileText(registryFile_);
    const std::string good = registryFile_ + ".good";
    ASSERT_EQ(saved.rfind("LXREGISTRY 2\n", 0), 0u) << saved;
    const size_t end = saved.rfind("END ");
    ASSERT_NE(end, std::string::npos);
    size_t records = 0;
    for (size_t i = 0; i < end; ++i) records += saved[i] == '\n';
    EXPECT_EQ(saved.substr(end, 4 + std::to_string(records - 1).size()), "END " + std::to_string(records - 1));
    EXPECT_EQ(fileText(good), saved);

    nt::BootOptions options;
    options.config = config_;
    options.registryFile = registryFile_;
    std::string error;
    // Cut at a record boundary: the last value and the check are gone.
    const std::string cut = saved.substr(0, saved.rfind('\n', end - 2) + 1);
    writeFile(registryFile_, cut);
    EXPECT_EQ(nt::Kernel::boot(options, &error), nullptr);
    EXPECT_NE(error.find("registry " + registryFile_ + ": it is damaged: its end is missing (the file was cut short); "
                         "the machine does not boot with it. The last good copy is " + good),
              std::string::npos)
        << error;
    EXPECT_EQ(fileText(registryFile_), cut);  // nothing was overwritten
    EXPECT_EQ(fileText(good), saved);

    // One changed digit.
    std::string altered = saved;
    altered[altered.find("V ") + 2] ^= 1;
    writeFile(registryFile_, altered);
    EXPECT_EQ(nt::Kernel::boot(options, &error), nullptr);
    EXPECT_NE(error.find("it is damaged: its checksum does not match its contents"), std::string::npos) << error;

    // The good copy boots with every key.
    writeFile(registryFile_, fileText(good));
    boot();
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(kernel_->registryQuery("SOFTWARE\\Lx\\Kept", "Last", &type, &data));
    EXPECT_EQ(data, dword(2));
}

TEST_F(RegistryTest, AFileWithoutACheckStillLoadsAndIsSavedWithOne) {
    process_.reset();
    kernel_->shutdown();
    kernel_.reset();
    writeFile(registryFile_, "LXREGISTRY 1\nK 534f465457415245\nV 4f6c64 4 07000000\n");
    std::remove((registryFile_ + ".good").c_str());
    boot();
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(kernel_->registryQuery("SOFTWARE", "Old", &type, &data));
    EXPECT_EQ(data, dword(7));
    process_.reset();
    kernel_->shutdown();
    EXPECT_EQ(fileText(registryFile_).rfind("LXREGISTRY 2\n", 0), 0u);
    EXPECT_NE(fileText(registryFile_).find("\nEND "), std::string::npos);
}

TEST_F(RegistryTest, ZwRoutinesConvertStringsAndReportSizes) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\Registry\\Machine\\SOFTWARE\\Lx\\Zw");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);
    ULONG disposition = 0;
    ASSERT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_CREATED_NEW_KEY});
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, L"Text");
    const WCHAR text[] = L"Hi";
    ASSERT_EQ(ZwSetValueKey(key, &valueName, 0, REG_SZ, const_cast<WCHAR*>(text), sizeof text), STATUS_SUCCESS);

    // Stored as UTF-16LE, as the registry keeps strings.
    uint32_t type = 0;
    std::vector<uint8_t> stored;
    ASSERT_TRUE(kernel_->registryQuery("SOFTWARE\\Lx\\Zw", "Text", &type, &stored));
    EXPECT_EQ(stored, (std::vector<uint8_t>{'H', 0, 'i', 0, 0, 0}));

    alignas(8) uint8_t buffer[64];
    ULONG length = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, 14, &length), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(length, 12u + sizeof text);
    ASSERT_EQ(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof buffer, &length), STATUS_SUCCESS);
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    EXPECT_EQ(info->Type, ULONG{REG_SZ});
    EXPECT_EQ(info->DataLength, sizeof text);
    EXPECT_EQ(std::wstring(reinterpret_cast<WCHAR*>(info->Data)), L"Hi");
    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, L"Missing");
    EXPECT_EQ(ZwQueryValueKey(key, &missing, KeyValuePartialInformation, buffer, sizeof buffer, &length),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);

    // RtlQueryRegistryValues: a present value, and the default for a missing one.
    ULONG present = 0, absent = 7, fallback = 99;
    ULONG stored32 = 5;
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, L"\\Registry\\Machine\\SOFTWARE\\Lx\\Rtl", L"Five",
                                    REG_DWORD, &stored32, 4),
              STATUS_SUCCESS);
    RTL_QUERY_REGISTRY_TABLE table[3] = {};
    table[0] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"Five"), &present, REG_DWORD, &fallback, 4};
    table[1] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"Six"), &absent, REG_DWORD, &fallback, 4};
    ASSERT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL,
                                     L"\\Registry\\Machine\\SOFTWARE\\Lx\\Rtl", table, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(present, 5u);
    EXPECT_EQ(absent, 99u);
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, L"\\Registry\\Machine\\SOFTWARE\\Nope", table, nullptr,
                                     nullptr),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

}  // namespace
}  // namespace nttest
