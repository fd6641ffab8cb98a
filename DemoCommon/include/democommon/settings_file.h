// The programs' settings file "LxCard.ini": decimal values through the
// compat layer's profile functions (a bare name lives in the per-user
// configuration directory, see win32/profile.h).
#pragma once

namespace demo {

inline constexpr char kSettingsFile[] = "LxCard.ini";
inline constexpr char kVideoSection[] = "Video Parameter";

int readSetting(const char* section, const char* key, int defaultValue);
bool writeSetting(const char* section, const char* key, int value);

}  // namespace demo
