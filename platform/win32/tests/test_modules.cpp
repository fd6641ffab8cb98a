// Module loading: reference counts, attach/detach, search order, errors.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

namespace {
std::mutex gCountsMutex;
std::map<std::string, int> gAttaches;
std::map<std::string, int> gDetaches;

int attaches(const std::string& name) {
  std::lock_guard<std::mutex> lock(gCountsMutex);
  return gAttaches[name];
}
int detaches(const std::string& name) {
  std::lock_guard<std::mutex> lock(gCountsMutex);
  return gDetaches[name];
}

const std::string kDirA = std::string(LX_WIN32_FAKE_DIR) + "/a";
const std::string kDirB = std::string(LX_WIN32_FAKE_DIR) + "/b";

using IdFn = int (*)();

int moduleId(HMODULE module) {
  auto fn = reinterpret_cast<IdFn>(GetProcAddress(module, "FakeModuleId"));
  return fn ? fn() : -1;
}

class ModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LX_MODULE_PATH", kDirA.c_str(), 1);
    // Every test releases what it loads: counts start from 0 in each test.
    std::lock_guard<std::mutex> lock(gCountsMutex);
    gAttaches.clear();
    gDetaches.clear();
  }
  void TearDown() override { ::unsetenv("LX_MODULE_PATH"); }
};
}  // namespace

// Called by the fake modules' constructor and destructor functions.
extern "C" __attribute__((visibility("default"))) void lxTestModuleAttached(const char* name) {
  std::lock_guard<std::mutex> lock(gCountsMutex);
  ++gAttaches[name];
}
extern "C" __attribute__((visibility("default"))) void lxTestModuleDetached(const char* name) {
  std::lock_guard<std::mutex> lock(gCountsMutex);
  ++gDetaches[name];
}

TEST_F(ModulesTest, AttachOnceOnFirstLoadDetachOnLastFree) {
  ASSERT_EQ(nullptr, GetModuleHandleA("LxFakeCount.dll"));
  EXPECT_EQ(0, attaches("LxFakeCount"));

  HMODULE first = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(1, attaches("LxFakeCount"));
  HMODULE second = LoadLibraryA("LxFakeCount.dll");
  EXPECT_EQ(first, second);
  HMODULE third = LoadLibraryA("LxFakeCount");  // no extension: ".dll" implied
  EXPECT_EQ(first, third);
  EXPECT_EQ(1, attaches("LxFakeCount"));
  EXPECT_EQ(0, detaches("LxFakeCount"));

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(0, detaches("LxFakeCount"));
  EXPECT_EQ(first, GetModuleHandleA("LxFakeCount.dll"));
  EXPECT_EQ(1, moduleId(first));

  EXPECT_TRUE(FreeLibrary(third));
  EXPECT_EQ(1, detaches("LxFakeCount"));
  EXPECT_EQ(nullptr, GetModuleHandleA("LxFakeCount.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

  // A new first load attaches again.
  HMODULE again = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(2, attaches("LxFakeCount"));
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_EQ(2, detaches("LxFakeCount"));
}

TEST_F(ModulesTest, GetModuleHandleAddsNoReference) {
  HMODULE module = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, module);
  const int detachesBefore = detaches("LxFakeCount");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(module, GetModuleHandleA("LxFakeCount.dll"));
  // One FreeLibrary balances the one LoadLibraryA: the module goes.
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(detachesBefore + 1, detaches("LxFakeCount"));
  EXPECT_EQ(nullptr, GetModuleHandleA("LxFakeCount.dll"));
}

// A library finds itself by an address inside it, wherever it was loaded
// from, and holds itself with that reference.
TEST_F(ModulesTest, ModuleFromAnAddressInsideIt) {
  HMODULE module = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, module);
  const auto inside = reinterpret_cast<LPCSTR>(GetProcAddress(module, "FakeModuleId"));
  ASSERT_NE(nullptr, inside);
  const int detachesBefore = detaches("LxFakeCount");

  HMODULE held = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, inside, &held));
  EXPECT_EQ(module, held);
  HMODULE peek = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 inside, &peek));
  EXPECT_EQ(module, peek);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(detachesBefore, detaches("LxFakeCount")) << "the address reference holds it";
  EXPECT_EQ(1, moduleId(held));
  EXPECT_TRUE(FreeLibrary(held));
  EXPECT_EQ(detachesBefore + 1, detaches("LxFakeCount"));

  int local = 0;
  HMODULE main = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&detaches), &main));
  EXPECT_EQ(GetModuleHandleA(nullptr), main);
  HMODULE none = reinterpret_cast<HMODULE>(1);
  SetLastError(0);
  EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&local), &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_FALSE(GetModuleHandleExA(0x80, "LxFakeCount.dll", &none));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(ModulesTest, FreeOfUnreferencedModuleFails) {
  HMODULE module = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_TRUE(FreeLibrary(module));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  int local = 0;
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&local)));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(ModulesTest, SearchFollowsModulePathOrder) {
  ::setenv("LX_MODULE_PATH", (kDirB + ":" + kDirA).c_str(), 1);
  HMODULE b = LoadLibraryA("LxFakeOrder.dll");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(2, moduleId(b));
  EXPECT_EQ(1, attaches("LxFakeOrderB"));
  EXPECT_EQ(0, attaches("LxFakeOrderA"));
  EXPECT_EQ(b, GetModuleHandleA("LxFakeOrder.dll"));
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(1, detaches("LxFakeOrderB"));

  ::setenv("LX_MODULE_PATH", (kDirA + "::" + kDirB).c_str(), 1);  // empty entry skipped
  HMODULE a = LoadLibraryA("LxFakeOrder.dll");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, moduleId(a));
  EXPECT_EQ(1, attaches("LxFakeOrderA"));
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(1, detaches("LxFakeOrderA"));
}

TEST_F(ModulesTest, StackLibraryDirectoryIsSearchedLast) {
  ::unsetenv("LX_MODULE_PATH");
  // libLxFakeLibDirModule.so lies beside libwin32.so.
  HMODULE module = LoadLibraryA("LxFakeLibDirModule.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(5, moduleId(module));
  EXPECT_TRUE(FreeLibrary(module));
  // Not on the module path and not in the library directory.
  EXPECT_EQ(nullptr, LoadLibraryA("LxFakeCount.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  // The layer itself, loaded by import, is found without a reference.
  EXPECT_NE(nullptr, GetModuleHandleA("win32.dll"));
}

TEST_F(ModulesTest, NameMapsCaseAsGiven) {
  EXPECT_EQ(nullptr, LoadLibraryA("lxfakecount.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  HMODULE module = LoadLibraryA("LxFakeCount.DLL");  // the extension is case-blind
  ASSERT_NE(nullptr, module);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModulesTest, PathNamesLoadTheFile) {
  HMODULE byPath = LoadLibraryA((kDirB + "/libLxFakeOrder.so").c_str());
  ASSERT_NE(nullptr, byPath);
  EXPECT_EQ(2, moduleId(byPath));
  HMODULE byDllPath = LoadLibraryA((kDirB + "/LxFakeOrder.dll").c_str());
  EXPECT_EQ(byPath, byDllPath);
  EXPECT_EQ(byPath, GetModuleHandleA((kDirB + "/libLxFakeOrder.so").c_str()));
  EXPECT_TRUE(FreeLibrary(byDllPath));
  EXPECT_TRUE(FreeLibrary(byPath));
  EXPECT_EQ(nullptr, GetModuleHandleA((kDirB + "/libLxFakeOrder.so").c_str()));
}

// As on Windows, a loaded module is found by the name it was loaded under,
// whatever has become of its file since.
TEST_F(ModulesTest, LoadedModuleIsFoundAfterItsFileHasGone) {
  char dir[] = "/tmp/lx-modules-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string copy = std::string(dir) + "/libLxFakeCount.so";
  ASSERT_EQ(0, std::system(("cp " + kDirA + "/libLxFakeCount.so " + copy).c_str()));
  ::setenv("LX_MODULE_PATH", dir, 1);
  HMODULE module = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, module);
  ASSERT_EQ(0, ::unlink(copy.c_str()));
  EXPECT_EQ(module, GetModuleHandleA("LxFakeCount.dll"));
  EXPECT_EQ(module, GetModuleHandleA(copy.c_str()));
  EXPECT_EQ(1, moduleId(module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(nullptr, GetModuleHandleA("LxFakeCount.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  ::rmdir(dir);
}

TEST_F(ModulesTest, MissingModuleGivesNullAnd126) {
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("NoSuchModule.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleA("NoSuchModule.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("/nonexistent/dir/NoSuchModule.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(ModulesTest, MissingProcGivesNullAnd127) {
  HMODULE module = LoadLibraryA("LxFakeCount.dll");
  ASSERT_NE(nullptr, module);
  SetLastError(0);
  EXPECT_EQ(nullptr, GetProcAddress(module, "NoSuchFunction"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  EXPECT_NE(nullptr, GetProcAddress(module, "FakeModuleId"));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModulesTest, GetProcAddressSeesOnlyTheModulesOwnExports) {
  HMODULE importer = LoadLibraryA("LxFakeImporter.dll");
  ASSERT_NE(nullptr, importer);
  EXPECT_EQ(1, attaches("LxFakeImported"));
  auto value = reinterpret_cast<IdFn>(GetProcAddress(importer, "FakeImporterValue"));
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(301, value());
  // Exported by the imported library, not by the importer.
  SetLastError(0);
  EXPECT_EQ(nullptr, GetProcAddress(importer, "FakeImportedValue"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  // The imported library is loaded (by import) and found without a reference.
  HMODULE imported = GetModuleHandleA("LxFakeImported.dll");
  ASSERT_NE(nullptr, imported);
  EXPECT_NE(nullptr, GetProcAddress(imported, "FakeImportedValue"));
  // Its reference belongs to the importer: FreeLibrary refuses.
  EXPECT_FALSE(FreeLibrary(imported));
  EXPECT_TRUE(FreeLibrary(importer));
  EXPECT_EQ(1, detaches("LxFakeImporter"));
  EXPECT_EQ(1, detaches("LxFakeImported"));
  EXPECT_EQ(nullptr, GetModuleHandleA("LxFakeImported.dll"));
}

TEST_F(ModulesTest, GetProcAddressOnBadHandleGives6) {
  int local = 0;
  SetLastError(0);
  EXPECT_EQ(nullptr, GetProcAddress(reinterpret_cast<HMODULE>(&local), "FakeModuleId"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(LastError, IsPerThread) {
  SetLastError(1234);
  DWORD seen = 0;
  std::thread other([&] {
    seen = GetLastError();
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(0u, seen);
  EXPECT_EQ(1234u, GetLastError());
}
