#include "pdftable.h"

#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace bench {

int writePlainPdfTable(const QString &path,
                       const QStringList &header,
                       const std::vector<QStringList> &rows)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setResolution(96);
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&writer))
        return -1;
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(9);
    painter.setFont(font);
    const QRect page = painter.viewport();
    const int lineHeight = QFontMetrics(font, &writer).height();
    const int columnWidth = page.width() / int(std::max<qsizetype>(1, header.size()));

    int pages = 1;
    int y = 0;
    auto drawLine = [&](const QStringList &cells) {
        for (int i = 0; i < cells.size(); ++i)
            painter.drawText(QRect(i * columnWidth, y, columnWidth - 4, lineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, cells[i]);
        y += lineHeight;
    };
    drawLine(header);
    for (const QStringList &row : rows) {
        if (y + lineHeight > page.height()) {
            writer.newPage();
            ++pages;
            y = 0;
            drawLine(header);
        }
        drawLine(row);
    }
    return painter.end() ? pages : -1;
}

std::vector<QStringList> readRows(const QString &databasePath, const QString &sql)
{
    std::vector<QStringList> rows;
    sqlite::Connection db;
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadOnly))
        return rows;
    sqlite::Statement select(db, sql);
    while (select.isValid() && select.step() == sqlite::Statement::Step::Row) {
        QStringList row;
        for (int column = 0; column < select.columnCount(); ++column)
            row << select.columnText(column);
        rows.push_back(row);
    }
    return rows;
}

} // namespace bench
