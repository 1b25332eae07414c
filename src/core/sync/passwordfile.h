#pragma once

#include <core/base/result.h>

#include <QFileDevice>
#include <QString>

namespace carddav {

// Whether a file of these permissions can be read by its owner alone (no group or other
// bits for reading or writing).
bool onlyOwnerCanRead(QFileDevice::Permissions permissions);

// The password in the file's first line (its line ending dropped); refused when anyone but
// the owner may read or change the file, or when the file is empty.
Result<QString> readPasswordFile(const QString &path);

} // namespace carddav
