// GetPrivateProfileIntA, GetPrivateProfileStringA, WritePrivateProfileStringA
// over host files; bare names live in the per-user configuration directory.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "profile/ini_text.h"

using lx::win32::profile::IniText;

namespace {

std::string configDirectory() {
  if (const char* dir = std::getenv("LX_PROFILE_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/lx";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/lx";
  return ".";
}

std::string pathOf(const char* fileName) {
  const std::string name = fileName;
  if (name.find('/') != std::string::npos) return name;
  return configDirectory() + "/" + name;
}

IniText readIni(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return IniText::parse("");
  std::ostringstream text;
  text << in.rdbuf();
  return IniText::parse(text.str());
}

bool makeDirectories(const std::string& directory) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = directory.find('/', slash + 1);
    const std::string part = directory.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

DWORD win32ErrorOf(int error) {
  switch (error) {
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    default: return ERROR_WRITE_FAULT;
  }
}

// The new text goes to a scratch file beside the old one and replaces it by
// rename, so a crash mid-write leaves the old settings whole.
bool writeIni(const std::string& path, const IniText& ini) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash))) {
    SetLastError(win32ErrorOf(errno));
    return false;
  }
  const std::string scratch = path + ".new";
  {
    std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
    if (!out) {
      SetLastError(win32ErrorOf(errno));
      return false;
    }
    out << ini.text();
    out.flush();
    if (!out) {
      SetLastError(ERROR_WRITE_FAULT);
      ::unlink(scratch.c_str());
      return false;
    }
  }
  if (std::rename(scratch.c_str(), path.c_str()) != 0) {
    SetLastError(win32ErrorOf(errno));
    ::unlink(scratch.c_str());
    return false;
  }
  return true;
}

DWORD copyOut(const std::string& text, LPSTR out, DWORD size) {
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

}  // namespace

WIN32_API UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  if (!section || !key || !fileName) return static_cast<UINT>(defaultValue);
  const auto value = readIni(pathOf(fileName)).value(section, key);
  if (!value) return static_cast<UINT>(defaultValue);
  const char* text = value->c_str();
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text) return static_cast<UINT>(defaultValue);
  return static_cast<UINT>(number);
}

WIN32_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                                                DWORD size, LPCSTR fileName) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!section || !fileName) return 0;
  const IniText ini = readIni(pathOf(fileName));
  if (!key) {
    // Names, each terminated, and one more terminator; cut at whole names.
    if (size < 2) return 0;
    DWORD used = 0;
    for (const std::string& name : ini.keys(section)) {
      if (used + name.size() + 2 > size) break;
      std::memcpy(out + used, name.c_str(), name.size() + 1);
      used += static_cast<DWORD>(name.size() + 1);
    }
    out[used] = '\0';
    return used;
  }
  const auto value = ini.value(section, key);
  return copyOut(value ? *value : std::string(defaultValue ? defaultValue : ""), out, size);
}

WIN32_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  if (!section || !fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = pathOf(fileName);
  IniText ini = readIni(path);
  if (!key)
    ini.removeSection(section);
  else if (!value)
    ini.removeKey(section, key);
  else
    ini.set(section, key, value);
  return writeIni(path, ini) ? TRUE : FALSE;
}
