#include <report/reportexport.h>

#include <core/interchange/spreadsheetcell.h>
#include <report/report.h>

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace reportengine {

namespace {

Failure failed(const QString &path, const QString &reason)
{
    return Failure{
        QStringLiteral("The report could not be written to \"%1\": %2.").arg(path, reason)};
}

Result<void> openSaveFile(QSaveFile &file)
{
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.fileName(), file.errorString());
    return {};
}

Result<void> commit(QSaveFile &file)
{
    if (!file.commit())
        return failed(file.fileName(), file.errorString());
    return {};
}

// A value from the address book as a cell no spreadsheet runs as a formula, quoted where it
// must be.
QString csvField(const QString &value)
{
    QString v = interchange::toSpreadsheetCell(value);
    if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"'))
        && !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r')))
        return v;
    v.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

} // namespace

Result<void> paintPages(const Report &report,
                        QPainter &painter,
                        const std::function<bool()> &newPage,
                        const QRectF &pageRect,
                        int first,
                        int last)
{
    const qreal scale = std::min(pageRect.width() / report.pageSize().width(),
                                 pageRect.height() / report.pageSize().height());
    for (int page = first; page <= last; ++page) {
        if (page > first && !newPage())
            return Failure::input(QStringLiteral("a new page could not be started"));
        painter.save();
        painter.translate(pageRect.topLeft());
        painter.scale(scale, scale);
        report.paintPage(painter, page);
        painter.restore();
    }
    return {};
}

Result<void> exportPdf(const Report &report, const QString &path)
{
    QSaveFile file(path);
    if (Result<void> opened = openSaveFile(file); !opened)
        return opened;
    {
        QPdfWriter writer(&file);
        writer.setTitle(report.title());
        writer.setCreator(QStringLiteral("Pelmora report engine"));
        writer.setResolution(1440);
        writer.setPageSize(QPageSize(QSizeF(report.pageSize()) / 20.0, QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (!painter.begin(&writer))
            return failed(path, QStringLiteral("the PDF writer could not start"));
        const QRectF pageRect(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
        const Result<void> painted = paintPages(
            report, painter, [&] { return writer.newPage(); }, pageRect, 0, report.pageCount() - 1);
        if (!painted)
            return failed(path, painted.error());
        painter.end();
    }
    return commit(file);
}

Result<void> exportHtml(const Report &report, const QString &path)
{
    QSaveFile file(path);
    if (Result<void> opened = openSaveFile(file); !opened)
        return opened;
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta "
                           "charset=\"utf-8\">\r\n<title>%1</title>\r\n")
                .arg(report.title().toHtmlEscaped());
    html += QStringLiteral(
        "<style>body{font-family:sans-serif;font-size:10pt}table{border-collapse:collapse}"
        "th,td{text-align:left;vertical-align:top;padding:2px 12px 2px 0}"
        "th{border-bottom:1px solid #555}td.group{font-weight:bold;font-size:12pt;padding-top:8px}"
        "</style>\r\n</head>\r\n<body>\r\n");
    html += QStringLiteral("<h1>%1</h1>\r\n<p>%2</p>\r\n<table>\r\n<tr>")
                .arg(report.title().toHtmlEscaped(),
                     report.pageText(QStringLiteral("{date}"), 0).toHtmlEscaped());
    for (const ReportColumn &c : report.definition().columns)
        html += QStringLiteral("<th>%1</th>").arg(c.caption.toHtmlEscaped());
    html += QStringLiteral("</tr>\r\n");
    QString group;
    for (int row = 0; row < report.rowCount(); ++row) {
        if (report.definition().hasGroup && (row == 0 || report.groupKey(row) != group)) {
            group = report.groupKey(row);
            html += QStringLiteral("<tr><td class=\"group\" colspan=\"%1\">%2</td></tr>\r\n")
                        .arg(report.columnCount())
                        .arg(group.toHtmlEscaped());
        }
        html += QStringLiteral("<tr>");
        for (int c = 0; c < report.columnCount(); ++c)
            html += QStringLiteral("<td>%1</td>")
                        .arg(report.cellText(row, c).toHtmlEscaped().replace(
                            QLatin1Char('\n'), QStringLiteral("<br>")));
        html += QStringLiteral("</tr>\r\n");
    }
    html += QStringLiteral("</table>\r\n</body>\r\n</html>\r\n");
    if (file.write(html.toUtf8()) < 0)
        return failed(path, file.errorString());
    return commit(file);
}

Result<void> exportCsv(const Report &report, const QString &path)
{
    QSaveFile file(path);
    if (Result<void> opened = openSaveFile(file); !opened)
        return opened;
    QStringList fields;
    for (const ReportColumn &c : report.definition().columns)
        fields << csvField(c.caption);
    // The byte-order mark tells spreadsheets that the file is UTF-8; without it some read
    // accented names in the system's legacy code page.
    QByteArray out = "\xEF\xBB\xBF" + fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (int row = 0; row < report.rowCount(); ++row) {
        fields.clear();
        for (int c = 0; c < report.columnCount(); ++c)
            fields << csvField(report.cellText(row, c));
        out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
        if (out.size() > (1 << 20)) {
            if (file.write(out) < 0)
                return failed(path, file.errorString());
            out.clear();
        }
    }
    if (file.write(out) < 0)
        return failed(path, file.errorString());
    return commit(file);
}

} // namespace reportengine
