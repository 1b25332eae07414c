#pragma once

#include <QString>

namespace settings {

// DataDir + "/settings.ini": section "settings", key "sorttype".
QString settingsIniPath();
// DataDir + "/crystl32.ini": section "settings", key "installed"; the program never writes it.
QString crystlIniPath();
// DataDir + "/ProgramInfo.txt".
QString programInfoPath();

inline const QString settingsSection = QStringLiteral("settings");
inline const QString sortTypeKey = QStringLiteral("sorttype");
inline const QString installedKey = QStringLiteral("installed");

} // namespace settings
