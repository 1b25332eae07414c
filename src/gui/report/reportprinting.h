#pragma once

#include <QString>

class QPrinter;

namespace reportengine {

class Report;

// Prints every page (or the printer's page range) with the screen's layout. On failure
// returns false and *error says why.
bool printReport(const Report &report, QPrinter &printer, QString *error);

} // namespace reportengine
