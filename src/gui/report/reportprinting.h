#pragma once

#include <core/base/result.h>

#include <QString>

class QPrinter;

namespace reportengine {

class Report;

// Prints every page (or the printer's page range) with the screen's layout. A failure says
// why.
Result<void> printReport(const Report &report, QPrinter &printer);

} // namespace reportengine
