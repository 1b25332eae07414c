#pragma once

#include <core/base/result.h>

#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace reportengine {

// One piece of a joined column value: a field, or a nested list of parts joined the same
// way (such as "City, State  Zip" as one line of an address). The separator stands before
// the piece's text only when that text is not empty and something came before it; the
// prefix and suffix belong to the text and vanish with it. So empty fields leave no stray
// punctuation.
struct ReportPart
{
    QString field;           // empty for a nested list
    QList<ReportPart> parts; // the nested list
    QString separator;
    QString prefix;
    QString suffix;
    int line = 0;
    int sourceColumn = -1; // set when the report's rows are known
};

struct ReportColumn
{
    QString caption;
    double widthMm = 0;
    QList<ReportPart> parts;
    bool wrap = false; // wrap into several lines, else clip with an ellipsis
    Qt::Alignment alignment = Qt::AlignLeft;
    int line = 0;
};

// Left, centre and right text of a page header or footer. "{title}", "{date}", "{page}"
// and "{pages}" are replaced when the page is painted.
struct ReportPageBand
{
    QString left;
    QString center;
    QString right;
};

struct ReportGroup
{
    enum class Kind { Initial, Value };
    QString field;
    Kind kind = Kind::Initial;
    int line = 0;
};

// A report definition as read from its JSON file (the format is described in
// docs/report-format.md). Lengths are millimetres, font sizes points.
struct ReportDefinition
{
    QString filePath;
    QString title;
    QString databasePath; // absolute: resolved against the definition's folder
    QString query;
    int queryLine = 0;
    QSizeF pageSizeMm{215.9, 279.4};
    double marginLeftMm = 15;
    double marginTopMm = 15;
    double marginRightMm = 15;
    double marginBottomMm = 15;
    QString fontFamily = QStringLiteral("Liberation Sans");
    double fontSize = 9;
    double titleFontSize = 16;
    ReportPageBand pageHeader;
    ReportPageBand pageFooter;
    bool hasGroup = false;
    ReportGroup group;
    QList<ReportColumn> columns;
};

// Reads and checks a definition. The failure is a sentence that names the file, the line and
// what is wrong.
Result<ReportDefinition> loadReportDefinition(const QString &path);

// The same from bytes already read; path is used in messages and to resolve the database.
Result<ReportDefinition> parseReportDefinition(const QByteArray &json, const QString &path);

// "Definition "<path>", line <n>: <what>" as every loader message reads.
QString definitionError(const QString &path, int line, const QString &what);

} // namespace reportengine
