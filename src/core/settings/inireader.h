#pragma once

#include <core/base/result.h>

#include <QString>

namespace settings {

// Returns the value of one key in one section of an INI-style file.
//
// Section and key match without regard to the case of ASCII letters; nothing is trimmed.
// A line containing "[" ends the current section and is never a key line; each "[section]"
// line that equals the wanted header exactly starts it again. The first matching key line
// wins; the value is the rest of the line after "key=", as written. Lines end at CR LF, a
// lone CR or a lone LF. A file without the section or key gives an empty value.
//
// A missing file is created empty. A file without the owner's write permission gets it
// back; when that is refused the file is read anyway. Only I/O errors are reported: the
// path is a folder, the file cannot be created or read; the failure names the file and the
// reason.
Result<QString> readIniKey(const QString &path, const QString &section, const QString &key);

} // namespace settings
