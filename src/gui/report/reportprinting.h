#pragma once

#include <core/base/result.h>

#include <QString>

class QPrinter;

namespace reportengine {
class Report;
}

namespace reportui {

// Prints every page (or the printer's page range) with the screen's layout. A failure says
// why.
Result<void> printReport(const reportengine::Report &report, QPrinter &printer);

} // namespace reportui
