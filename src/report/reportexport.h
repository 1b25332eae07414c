#pragma once

#include <core/base/result.h>

#include <QString>

#include <functional>

class QPainter;
class QRectF;

namespace reportengine {

class Report;

// Each writes the whole report to path through a temporary file that replaces path only
// when everything was written, so a failed export leaves an existing file as it was. A
// failure names the file and the reason.

// The pages as painted on screen.
Result<void> exportPdf(const Report &report, const QString &path);
// One table: the captions, then a row per data row, group titles as rows of their own.
Result<void> exportHtml(const Report &report, const QString &path);
// The captions, then one line per row of the data source with the column values as
// shown (fields joined). UTF-8 with a byte-order mark, lines end with CR LF, values quoted
// where they must be and kept from being spreadsheet formulas (toSpreadsheetCell).
Result<void> exportCsv(const Report &report, const QString &path);

// Paints the pages first..last (0-based) through a painter on a paged device whose pages
// are pageRect device pixels big; newPage() starts the next page. Fails when a page could
// not be started.
Result<void> paintPages(const Report &report,
                        QPainter &painter,
                        const std::function<bool()> &newPage,
                        const QRectF &pageRect,
                        int first,
                        int last);

} // namespace reportengine
