#pragma once

#include <QString>

namespace platform {

// The folder the executable runs from, without a trailing separator. Never the current
// directory: every file of the program lies beside the executable.
QString appPath();

// The folder of the settings files and ProgramInfo.txt: AppPath + "/Program Data".
QString dataDir();

// AppPath joined with a fixed relative path such as "Program Data/settings.ini".
QString appFile(const QString &relativePath);

// Tests point AppPath at a folder they filled; an empty path restores the executable's folder.
void setAppPathForTesting(const QString &path);

} // namespace platform
