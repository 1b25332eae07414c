#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace bench {

// The reference for report figures: the same rows written as a plain table to a PDF file
// with QPdfWriter and QPainter, one text line per row, a header line on every page, no
// bands, groups or page numbers. Returns the number of pages, or -1 when the file could
// not be written.
int writePlainPdfTable(const QString &path,
                       const QStringList &header,
                       const std::vector<QStringList> &rows);

// Reads the columns of the statement as text, every row.
std::vector<QStringList> readRows(const QString &databasePath, const QString &sql);

} // namespace bench
