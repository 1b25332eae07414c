#include <core/settings/settingsfiles.h>

#include <core/files/apppath.h>

namespace settings {

QString settingsIniPath()
{
    return files::appFile(QStringLiteral("Program Data/settings.ini"));
}

QString crystlIniPath()
{
    return files::appFile(QStringLiteral("Program Data/crystl32.ini"));
}

QString programInfoPath()
{
    return files::appFile(QStringLiteral("Program Data/ProgramInfo.txt"));
}

} // namespace settings
