// Modules: LoadLibraryA, GetModuleHandleA, GetProcAddress, FreeLibrary on dlopen.
//
// HMODULE is the dlopen handle (glibc: the object's link_map). dlopen counts
// are the Win32 reference counts, so a library's constructor functions (its
// attach) run at the first load and its destructor functions (its detach) at
// the last FreeLibrary. The layer additionally counts the references that
// LoadLibraryA handed out, so that FreeLibrary refuses a handle it never gave
// (dlclose on a foreign pointer would crash) and never drops a reference that
// belongs to a library's importers.
#include <windows.h>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::mutex gModulesMutex;
// References handed out by LoadLibraryA and not yet released, per handle.
std::unordered_map<void*, unsigned long> gLoadCounts;

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The directory holding libwin32.so: the stack's library directory.
const std::string& stackLibraryDirectory() {
  static const std::string dir = [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info) == 0 || info.dli_fname == nullptr)
      return std::string();
    std::string name = info.dli_fname;
    if (char* real = ::realpath(name.c_str(), nullptr)) {
      name = real;
      std::free(real);
    }
    return directoryOf(name);
  }();
  return dir;
}

bool endsWithDll(const std::string& s) {
  if (s.size() < 4) return false;
  const char* tail = s.c_str() + s.size() - 4;
  return ::strcasecmp(tail, ".dll") == 0;
}

// Candidate file paths for a module name, in search order.
std::vector<std::string> candidatePaths(const char* rawName) {
  std::string name = rawName;
  for (char& c : name)
    if (c == '\\') c = '/';
  std::vector<std::string> paths;
  if (name.find('/') != std::string::npos) {
    // A path: used as given; "dir/X.dll" also tries "dir/libX.so".
    paths.push_back(name);
    std::string base = name.substr(name.rfind('/') + 1);
    if (endsWithDll(base))
      paths.push_back(directoryOf(name) + "/lib" + base.substr(0, base.size() - 4) + ".so");
    return paths;
  }
  std::string file;
  if (endsWithDll(name)) {
    file = "lib" + name.substr(0, name.size() - 4) + ".so";
  } else if (name.find('.') == std::string::npos) {
    file = "lib" + name + ".so";  // no extension: Windows appends ".dll"
  } else if (!name.empty() && name.back() == '.') {
    file = "lib" + name.substr(0, name.size() - 1) + ".so";  // trailing dot: no extension
  } else {
    file = name;  // another extension ("libfoo.so"): the file name as given
  }
  if (const char* env = std::getenv("LX_MODULE_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string dir = list.substr(start, end - start);
      if (!dir.empty()) paths.push_back(dir + "/" + file);
      start = end + 1;
    }
  }
  const std::string& libDir = stackLibraryDirectory();
  if (!libDir.empty()) paths.push_back(libDir + "/" + file);
  return paths;
}

// True when handle is an object currently loaded in the process. The object
// list is walked under the loader's list lock (dl_iterate_phdr holds it while
// its callback runs).
bool isLoadedModule(void* handle) {
  struct Query {
    void* handle;
    bool found;
  } query{handle, false};
  ::dl_iterate_phdr(
      [](struct dl_phdr_info*, size_t, void* data) -> int {
        auto* q = static_cast<Query*>(data);
        for (struct link_map* map = _r_debug.r_map; map != nullptr; map = map->l_next) {
          if (map == q->handle) {
            q->found = true;
            break;
          }
        }
        return 1;  // one pass is enough
      },
      &query);
  return query.found;
}

void* mainProgramHandle() {
  static void* handle = ::dlopen(nullptr, RTLD_NOW);
  return handle;
}

}  // namespace

WIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  for (const std::string& path : candidatePaths(fileName)) {
    if (!fileExists(path)) continue;
    // The loader lock is taken inside dlopen; our mutex is not held across it,
    // so a library attach that loads another module cannot deadlock.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      bool badFormat = why != nullptr && (std::strstr(why, "ELF") != nullptr ||
                                          std::strstr(why, "file too short") != nullptr);
      SetLastError(badFormat ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(gModulesMutex);
    ++gLoadCounts[handle];
    return static_cast<HMODULE>(handle);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return static_cast<HMODULE>(mainProgramHandle());
  if (moduleName[0] == '\0') {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // No stat of the candidate first: the loader matches a name it has loaded
  // without touching the file system (the card library looks its module up
  // on every call), finds a module whose file has gone by the name it was
  // loaded under, as Windows does, and fails on a missing file by itself.
  for (const std::string& path : candidatePaths(moduleName)) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
      ::dlclose(handle);  // drop the reference RTLD_NOLOAD added
      return static_cast<HMODULE>(handle);
    }
    ::dlerror();
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

WIN32_API BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  constexpr DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  const bool pinAndUnchanged =
      (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0 && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
  if ((flags & ~known) != 0 || pinAndUnchanged) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string path;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    Dl_info info{};
    void* owner = nullptr;
    if (moduleName == nullptr || ::dladdr1(moduleName, &info, &owner, RTLD_DL_LINKMAP) == 0 || owner == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    const auto* map = static_cast<struct link_map*>(owner);
    if (map->l_prev == nullptr) {  // the main program
      *module = static_cast<HMODULE>(mainProgramHandle());
      return TRUE;
    }
    path = map->l_name;
  } else {
    HMODULE found = GetModuleHandleA(moduleName);
    if (found == nullptr) return FALSE;
    if (moduleName == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
      *module = found;
      return TRUE;
    }
    const auto* map = reinterpret_cast<struct link_map*>(found);
    path = map->l_name;
  }
  // RTLD_NOLOAD finds the loaded object and adds a reference to it.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | ((flags & GET_MODULE_HANDLE_EX_FLAG_PIN) ? RTLD_NODELETE : 0));
  if (handle == nullptr) {
    ::dlerror();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)) {
    ::dlclose(handle);  // pinned by RTLD_NODELETE, or no reference wanted
  } else {
    std::lock_guard<std::mutex> lock(gModulesMutex);
    ++gLoadCounts[handle];
  }
  *module = static_cast<HMODULE>(handle);
  return TRUE;
}

WIN32_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  void* handle = module != nullptr ? static_cast<void*>(module) : mainProgramHandle();
  if (!isLoadedModule(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Ordinals (values below 0x10000) are not supported.
  if (procName == nullptr || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle, procName);
  if (address == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // dlsym also searches the module's dependencies; Win32 looks only at the
  // module's own exports. Accept the module itself, and the main program (a
  // copy-relocated data symbol of the module lives there).
  Dl_info info{};
  void* owner = nullptr;
  if (::dladdr1(address, &info, &owner, RTLD_DL_LINKMAP) != 0 && owner != nullptr &&
      owner != handle && static_cast<struct link_map*>(owner)->l_prev != nullptr &&
      module != nullptr) {
    // l_prev == nullptr identifies the main program's link_map.
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(address);
}

WIN32_API BOOL WINAPI FreeLibrary(HMODULE module) {
  void* handle = static_cast<void*>(module);
  {
    std::lock_guard<std::mutex> lock(gModulesMutex);
    auto it = gLoadCounts.find(handle);
    if (handle == nullptr || it == gLoadCounts.end() || it->second == 0) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (--it->second == 0) gLoadCounts.erase(it);
  }
  // Runs the library's detach when this was the last reference.
  if (::dlclose(handle) != 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}
