#pragma once

#include <QString>

class QPrinter;

namespace reportengine {

class Report;

// Each writes the whole report to path through a temporary file that replaces path only
// when everything was written, so a failed export leaves an existing file as it was. On
// failure returns false and *error names the file and the reason.

// The pages as painted on screen.
bool exportPdf(const Report &report, const QString &path, QString *error);
// One table: the captions, then a row per data row, group titles as rows of their own.
bool exportHtml(const Report &report, const QString &path, QString *error);
// The captions, then one line per row of the data source with the column values as
// shown (fields joined). UTF-8 with a byte-order mark, lines end with CR LF, values quoted
// where they must be.
bool exportCsv(const Report &report, const QString &path, QString *error);

// Prints every page (or the printer's page range) with the screen's layout.
bool printReport(const Report &report, QPrinter &printer, QString *error);

} // namespace reportengine
