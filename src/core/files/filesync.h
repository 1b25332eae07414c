#pragma once

#include <core/base/result.h>

#include <QString>

namespace files {

// Asks the system to put what it holds of path on the disk before going on: a file's
// content, or a folder's names (what makes a rename or a new link survive a power cut).
// The failure names the path and the system's reason.
Result<void> syncFile(const QString &path);
Result<void> syncFolder(const QString &path);

} // namespace files
