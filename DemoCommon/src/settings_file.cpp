#include "democommon/settings_file.h"

#include <windows.h>

#include <string>

namespace demo {

int readSetting(const char* section, const char* key, int defaultValue) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, kSettingsFile));
}

bool writeSetting(const char* section, const char* key, int value) {
  return WritePrivateProfileStringA(section, key, std::to_string(value).c_str(), kSettingsFile) != FALSE;
}

}  // namespace demo
