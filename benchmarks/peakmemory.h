#pragma once

#include <QString>

namespace bench {

// A line of /proc/<pid>/status in KiB: "VmHWM" is the peak resident set, "VmRSS" the
// current one. pid 0 reads this process. Returns -1 when the line is missing.
qint64 procStatusKiB(const QString &key, qint64 pid = 0);

} // namespace bench
