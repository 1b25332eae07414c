#pragma once

#include <core/base/result.h>

#include <QString>

namespace carddav {

// The password in the file's first line (its line ending dropped); refused when anyone but
// the owner may read or change the file (checked on the open file), when it is no plain
// file, or when it is empty.
Result<QString> readPasswordFile(const QString &path);

} // namespace carddav
