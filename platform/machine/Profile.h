#pragma once
// The host application's profile: small settings of the console kept per user
// (window placement, flags, preferred machines), by section and value name.
//
// The profile is an INI file named after the application (SetProfileApplication,
// "VNMgr" unless told otherwise): ~/.config/Vornal/<application>.ini
// ($XDG_CONFIG_HOME when set). When $VORNAL_HOME is set it lives under the
// machine home instead (profile/<application>.ini), so that every test machine
// and every demo machine has a profile of its own.
//
// Missing values give the caller's default. Writes reach the file before the
// call returns. Safe from any thread.

#include <QString>

#include "platform/core/Win32Types.h"

namespace vn {

void SetProfileApplication(const QString& application);
QString ProfilePath();

}  // namespace vn

UINT GetProfileInt(const char* section, const char* entry, int nDefault);
[[nodiscard]] BOOL WriteProfileInt(const char* section, const char* entry, int nValue);
QString GetProfileString(const char* section, const char* entry, const QString& defaultValue = QString());
[[nodiscard]] BOOL WriteProfileString(const char* section, const char* entry, const QString& value);
