// Fuzzes the report-definition loader with arbitrary bytes as the definition's content: it
// either gives a definition the report can be laid out from, or a message that names the
// file and a line of it; it never crashes or hangs.
#include <report/reportdefinition.h>

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString definitionPath = QStringLiteral("/nonexistent/fuzz/phonelist.rpt");

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
    std::abort();
}

bool usable(double value)
{
    return std::isfinite(value);
}

void checkParts(const QList<reportengine::ReportPart> &parts)
{
    for (const reportengine::ReportPart &part : parts) {
        if (part.field.isEmpty() && part.parts.isEmpty())
            fail("a part with neither a field nor parts", part.separator);
        checkParts(part.parts);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const Result<reportengine::ReportDefinition> parsed
        = reportengine::parseReportDefinition(json, definitionPath);
    if (!parsed) {
        if (!parsed.error().contains(QLatin1Char('"') + definitionPath
                                     + QStringLiteral("\", line ")))
            fail("a message that does not name the file and a line", parsed.error());
        return 0;
    }
    const reportengine::ReportDefinition &definition = *parsed;
    // What the layout divides by or places with must be usable numbers.
    const double width
        = definition.pageSizeMm.width() - definition.marginLeftMm - definition.marginRightMm;
    const double height
        = definition.pageSizeMm.height() - definition.marginTopMm - definition.marginBottomMm;
    if (!usable(width) || !usable(height) || width <= 0 || height <= 0)
        fail("no room on the page",
             QString::number(width) + QLatin1Char('x') + QString::number(height));
    if (!usable(definition.fontSize) || definition.fontSize <= 0
        || !usable(definition.titleFontSize) || definition.titleFontSize <= 0)
        fail("an unusable font size", QString::number(definition.fontSize));
    if (definition.columns.isEmpty())
        fail("a definition without columns", definition.title);
    for (const reportengine::ReportColumn &column : definition.columns) {
        if (!usable(column.widthMm) || column.widthMm <= 0)
            fail("an unusable column width", QString::number(column.widthMm));
        if (column.parts.isEmpty())
            fail("a column without fields", column.caption);
        checkParts(column.parts);
    }
    if (definition.databasePath.isEmpty() || definition.query.isEmpty())
        fail("a definition without a data source", definition.title);
    return 0;
}
