#pragma once

#include <core/base/result.h>

#include <QString>

namespace reportengine {

// What a report window hands to the report engine: a report file, then "run".
class ReportControl
{
public:
    virtual ~ReportControl() = default;
    virtual void setReportFileName(const QString &path) = 0;
    virtual QString reportFileName() const = 0;
    // Produces the report and shows it in a viewer of its own. Fails when the report could
    // not be produced; the error reporter has then been told why.
    virtual Result<void> run() = 0;
};

} // namespace reportengine
