#include <report/report.h>

#include <QFontMetricsF>
#include <QLine>
#include <QLocale>
#include <QPainter>

#include <cmath>

namespace reportengine {

namespace {

// Band spacing in twips.
constexpr int cellPadding = 90; // between a cell's text and the next column
constexpr int rowPadding = 40;  // above and below a detail row's text
constexpr int headerSpacing = 120;
constexpr int titleSpacing = 200;
constexpr int ruleWidth = 10;

QFont reportFont(const QString &family, double points, bool bold)
{
    QFont font(family);
    // Pixel sizes in twips: 1 point is 20 twips. Unhinted, so widths scale linearly and
    // every device gets the same line breaks.
    font.setPixelSize(std::max(1, int(std::lround(points * 20))));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

int lineSpacing(const QFont &font)
{
    return int(std::ceil(QFontMetricsF(font).lineSpacing()));
}

const char *kindName(LayoutBand::Kind kind)
{
    switch (kind) {
    case LayoutBand::Kind::ReportHeader:
        return "report-header";
    case LayoutBand::Kind::PageHeader:
        return "page-header";
    case LayoutBand::Kind::ColumnHeader:
        return "column-header";
    case LayoutBand::Kind::GroupHeader:
        return "group-header";
    case LayoutBand::Kind::Detail:
        return "detail";
    case LayoutBand::Kind::PageFooter:
        return "page-footer";
    }
    return "?";
}

QString quoted(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

} // namespace

int mmToTwips(double mm)
{
    return int(std::lround(mm * 1440.0 / 25.4));
}

Result<Report> Report::open(const QString &definitionPath, const QDate &printDate)
{
    Result<ReportDefinition> loaded = loadReportDefinition(definitionPath);
    if (!loaded)
        return loaded.failure();
    ReportDefinition definition = std::move(loaded).value();
    // The message says which definition named the data source.
    Result<ReportData> data = readReportData(definition.databasePath, definition.query,
                                             QStringLiteral(" (named by \"%1\", line %2)")
                                                 .arg(definition.filePath)
                                                 .arg(definition.queryLine));
    if (!data)
        return data.failure();
    return create(std::move(definition), std::move(data).value(), printDate);
}

Result<Report> Report::create(ReportDefinition definition, ReportData data, const QDate &printDate)
{
    Report report;
    report.m_definition = std::move(definition);
    report.m_data = std::move(data);
    report.m_printDate = printDate;
    if (const Result<void> resolved = report.resolveFields(); !resolved)
        return resolved.failure();
    report.layOut();
    return report;
}

namespace {

QString
missingField(const ReportDefinition &d, const ReportData &data, const QString &field, int line)
{
    return definitionError(
        d.filePath, line,
        QStringLiteral("the query does not return the field \"%1\"; it returns: %2")
            .arg(field, data.columns.join(QStringLiteral(", "))));
}

} // namespace

Result<void> Report::resolveParts(QList<ReportPart> &parts)
{
    for (ReportPart &part : parts) {
        if (!part.parts.isEmpty()) {
            if (Result<void> resolved = resolveParts(part.parts); !resolved)
                return resolved;
            continue;
        }
        part.sourceColumn = m_data.columnIndex(part.field);
        if (part.sourceColumn < 0)
            return Failure{missingField(m_definition, m_data, part.field, part.line)};
    }
    return {};
}

Result<void> Report::resolveFields()
{
    for (ReportColumn &column : m_definition.columns) {
        if (Result<void> resolved = resolveParts(column.parts); !resolved)
            return resolved;
    }
    if (m_definition.hasGroup) {
        m_groupColumn = m_data.columnIndex(m_definition.group.field);
        if (m_groupColumn < 0)
            return Failure{missingField(m_definition, m_data, m_definition.group.field,
                                        m_definition.group.line)};
        if (m_definition.group.kind == ReportGroup::Kind::Initial)
            m_index = std::make_shared<const AlphabeticIndex>();
    }
    return {};
}

QString Report::joinParts(const QStringList &values, const QList<ReportPart> &parts) const
{
    QString text;
    for (const ReportPart &part : parts) {
        const QString value = part.parts.isEmpty() ? values.at(part.sourceColumn).trimmed()
                                                   : joinParts(values, part.parts);
        if (value.isEmpty())
            continue;
        if (!text.isEmpty())
            text += part.separator;
        text += part.prefix + value + part.suffix;
    }
    return text;
}

QString Report::cellText(int row, int column) const
{
    return joinParts(m_data.rows.at(row), m_definition.columns.at(column).parts);
}

QString Report::groupKey(int row) const
{
    if (m_groupColumn < 0)
        return QString();
    const QString value = m_data.rows.at(row).at(m_groupColumn).trimmed();
    if (m_definition.group.kind == ReportGroup::Kind::Value)
        return value;
    return m_index->letter(value);
}

QStringList Report::fitLines(const QString &text, int width, bool wrap) const
{
    const QFontMetricsF &metrics = *m_metrics;
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        // Most values fit as they are: one measurement instead of one per word.
        if (metrics.horizontalAdvance(paragraph) <= width) {
            lines.append(paragraph);
            continue;
        }
        if (!wrap) {
            lines.append(metrics.elidedText(paragraph, Qt::ElideRight, width));
            continue;
        }
        QString current;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString candidate = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(candidate) <= width) {
                current = candidate;
                continue;
            }
            if (!current.isEmpty())
                lines.append(current);
            current = word;
            // A word wider than the column is broken where it has to be.
            while (current.size() > 1 && metrics.horizontalAdvance(current) > width) {
                qsizetype fit = current.size() - 1;
                while (fit > 1 && metrics.horizontalAdvance(current.left(fit)) > width)
                    --fit;
                lines.append(current.left(fit));
                current = current.mid(fit);
            }
        }
        lines.append(current);
    }
    if (lines.size() > m_maxLines) {
        lines.resize(m_maxLines);
        lines.last()
            = metrics.elidedText(lines.last() + QStringLiteral(" \u2026"), Qt::ElideRight, width);
    }
    return lines;
}

QStringList Report::cellLines(int row, int column) const
{
    const ReportColumn &c = m_definition.columns.at(column);
    return fitLines(cellText(row, column), m_columnWidth.at(column) - cellPadding, c.wrap);
}

int Report::rowHeight(int row) const
{
    int lines = 1;
    for (int c = 0; c < columnCount(); ++c) {
        if (m_definition.columns.at(c).wrap)
            lines = std::max(lines, int(cellLines(row, c).size()));
        else
            lines = std::max(
                lines, std::min(m_maxLines, int(cellText(row, c).count(QLatin1Char('\n'))) + 1));
    }
    return lines * m_lineHeight + 2 * rowPadding;
}

QString Report::pageText(const QString &text, int page) const
{
    QString t = text;
    t.replace(QLatin1String("{title}"), m_definition.title);
    t.replace(QLatin1String("{date}"),
              QLocale(QLocale::English).toString(m_printDate, QStringLiteral("MMMM d, yyyy")));
    t.replace(QLatin1String("{page}"), QString::number(page + 1));
    t.replace(QLatin1String("{pages}"), QString::number(pageCount()));
    return t;
}

void Report::layOut()
{
    const ReportDefinition &d = m_definition;
    m_font = reportFont(d.fontFamily, d.fontSize, false);
    m_boldFont = reportFont(d.fontFamily, d.fontSize, true);
    m_titleFont = reportFont(d.fontFamily, d.titleFontSize, true);
    m_groupFont = reportFont(d.fontFamily, d.fontSize + 2, true);
    m_lineHeight = lineSpacing(m_font);
    m_metrics = std::make_shared<QFontMetricsF>(m_font);
    m_pageSize = QSize(mmToTwips(d.pageSizeMm.width()), mmToTwips(d.pageSizeMm.height()));
    m_body = QRect(QPoint(mmToTwips(d.marginLeftMm), mmToTwips(d.marginTopMm)),
                   QPoint(m_pageSize.width() - mmToTwips(d.marginRightMm),
                          m_pageSize.height() - mmToTwips(d.marginBottomMm)));
    int left = m_body.left();
    for (const ReportColumn &column : d.columns) {
        m_columnLeft.append(left);
        m_columnWidth.append(mmToTwips(column.widthMm));
        left += m_columnWidth.last();
    }

    const int pageHeaderHeight = m_lineHeight + headerSpacing;
    const int titleHeight = lineSpacing(m_titleFont) + titleSpacing;
    const int columnHeaderHeight = lineSpacing(m_boldFont) + headerSpacing;
    const int groupHeaderHeight = lineSpacing(m_groupFont) + headerSpacing;
    const int footerHeight = m_lineHeight + headerSpacing;
    const int bodyBottom = m_body.bottom() - footerHeight;
    // A row taller than an empty page could never be placed: such cells are cut short.
    const int room = bodyBottom - m_body.top() - pageHeaderHeight - columnHeaderHeight
                     - groupHeaderHeight - 2 * rowPadding;
    m_maxLines = std::max(1, room / m_lineHeight);

    int y = 0;
    auto newPage = [&] {
        m_pages.append(QList<LayoutBand>());
        y = m_body.top();
        m_pages.last().append({LayoutBand::Kind::PageHeader, false, y, pageHeaderHeight, -1});
        y += pageHeaderHeight;
        if (m_pages.size() == 1) {
            m_pages.last().append({LayoutBand::Kind::ReportHeader, false, y, titleHeight, -1});
            y += titleHeight;
        }
        m_pages.last().append({LayoutBand::Kind::ColumnHeader, false, y, columnHeaderHeight, -1});
        y += columnHeaderHeight;
    };
    auto add = [&](LayoutBand::Kind kind, bool continued, int height, int index) {
        m_pages.last().append({kind, continued, y, height, index});
        y += height;
    };

    newPage();
    QString currentKey;
    for (int row = 0; row < rowCount(); ++row) {
        const int height = rowHeight(row);
        const QString key = groupKey(row);
        if (m_groupColumn >= 0 && (row == 0 || key != currentKey)) {
            currentKey = key;
            m_groupTitles.append(key);
            // A group header never stands alone at the foot of a page.
            if (y + groupHeaderHeight + height > bodyBottom)
                newPage();
            add(LayoutBand::Kind::GroupHeader, false, groupHeaderHeight, groupCount() - 1);
        } else if (y + height > bodyBottom) {
            newPage();
            if (m_groupColumn >= 0)
                add(LayoutBand::Kind::GroupHeader, true, groupHeaderHeight, groupCount() - 1);
        }
        add(LayoutBand::Kind::Detail, false, height, row);
    }
    for (QList<LayoutBand> &page : m_pages)
        page.append({LayoutBand::Kind::PageFooter, false, bodyBottom, footerHeight, -1});
}

// What a page holds once its bands are filled: the texts in their boxes and the rules, as
// one walk that painting and the text dump share, so both always show the same page.
struct PageText
{
    QRect rect;    // the box of the first line
    int flags = 0; // Qt::Alignment and Qt::TextFlag
    const QFont *font = nullptr;
    QStringList lines; // one under the other, lineHeight apart
    int lineHeight = 0;
    bool elide = false; // cut to the box's width when painted
};

class PageVisitor
{
public:
    virtual ~PageVisitor() = default;
    // Comes before the band's texts and rules.
    virtual void band(const LayoutBand &band) = 0;
    virtual void text(const PageText &text) = 0;
    virtual void rule(const QLine &line) = 0;
};

void Report::visitPage(int page, PageVisitor &visitor) const
{
    const int width = m_body.width();
    const int x = m_body.left();
    auto single = [&](const QRect &r, int flags, const QFont &font, const QString &text) {
        visitor.text({r, flags | Qt::TextSingleLine, &font, {text}, r.height(), false});
    };
    auto three = [&](const ReportPageBand &band, const QRect &r) {
        single(r, Qt::AlignVCenter | Qt::AlignLeft, m_font, pageText(band.left, page));
        single(r, Qt::AlignVCenter | Qt::AlignHCenter, m_font, pageText(band.center, page));
        single(r, Qt::AlignVCenter | Qt::AlignRight, m_font, pageText(band.right, page));
    };
    for (const LayoutBand &band : m_pages.at(page)) {
        visitor.band(band);
        const QRect r(x, band.y, width, band.height);
        switch (band.kind) {
        case LayoutBand::Kind::PageHeader:
            three(m_definition.pageHeader, r.adjusted(0, 0, 0, -headerSpacing / 2));
            break;
        case LayoutBand::Kind::ReportHeader:
            single(r.adjusted(0, titleSpacing / 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_titleFont,
                   m_definition.title);
            break;
        case LayoutBand::Kind::ColumnHeader: {
            for (int c = 0; c < columnCount(); ++c) {
                const QRect cell(m_columnLeft.at(c), band.y, m_columnWidth.at(c) - cellPadding,
                                 band.height - headerSpacing / 2);
                visitor.text({cell,
                              Qt::AlignVCenter | Qt::TextSingleLine
                                  | int(m_definition.columns.at(c).alignment),
                              &m_boldFont,
                              {m_definition.columns.at(c).caption},
                              cell.height(),
                              true});
            }
            const int lineY = band.y + band.height - headerSpacing / 2;
            visitor.rule(QLine(x, lineY, x + width, lineY));
            break;
        }
        case LayoutBand::Kind::GroupHeader: {
            QString text = m_groupTitles.at(band.index);
            if (band.continued)
                text += QStringLiteral(" (continued)");
            single(r.adjusted(0, headerSpacing / 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   m_groupFont, text);
            break;
        }
        case LayoutBand::Kind::Detail:
            for (int c = 0; c < columnCount(); ++c) {
                const QRect cell(m_columnLeft.at(c), band.y + rowPadding,
                                 m_columnWidth.at(c) - cellPadding, m_lineHeight);
                visitor.text(
                    {cell,
                     Qt::AlignTop | Qt::TextSingleLine | int(m_definition.columns.at(c).alignment),
                     &m_font, cellLines(band.index, c), m_lineHeight, false});
            }
            break;
        case LayoutBand::Kind::PageFooter:
            visitor.rule(
                QLine(x, band.y + headerSpacing / 4, x + width, band.y + headerSpacing / 4));
            three(m_definition.pageFooter, r.adjusted(0, headerSpacing / 2, 0, 0));
            break;
        }
    }
}

namespace {

class PagePainter final : public PageVisitor
{
public:
    explicit PagePainter(QPainter &painter)
        : m_painter(painter)
    {}

    void band(const LayoutBand &) override {}

    void text(const PageText &text) override
    {
        m_painter.setFont(*text.font);
        for (int l = 0; l < text.lines.size(); ++l) {
            const QRect box = text.rect.translated(0, l * text.lineHeight);
            m_painter.drawText(box, text.flags,
                               text.elide
                                   ? QFontMetricsF(*text.font)
                                         .elidedText(text.lines.at(l), Qt::ElideRight, box.width())
                                   : text.lines.at(l));
        }
    }

    void rule(const QLine &line) override
    {
        m_painter.save();
        m_painter.setPen(QPen(QColor(90, 90, 90), ruleWidth));
        m_painter.drawLine(line);
        m_painter.restore();
    }

private:
    QPainter &m_painter;
};

// One line per band: its kind, place and height, then its texts quoted and unclipped.
class PageDump final : public PageVisitor
{
public:
    explicit PageDump(QString &out)
        : m_out(out)
    {}
    ~PageDump() override { finishBand(); }

    void band(const LayoutBand &band) override
    {
        finishBand();
        m_inBand = true;
        m_out += QStringLiteral("  %1 y=%2 h=%3")
                     .arg(QLatin1String(kindName(band.kind)))
                     .arg(band.y)
                     .arg(band.height);
        if (band.kind == LayoutBand::Kind::Detail)
            m_out += QStringLiteral(" row=%1").arg(band.index);
    }

    void text(const PageText &text) override
    {
        m_texts << quoted(text.lines.join(QLatin1Char('\n')));
    }

    void rule(const QLine &) override {}

    void finishBand()
    {
        if (!m_inBand)
            return;
        m_out += QLatin1Char(' ') + m_texts.join(QStringLiteral(" | ")) + QLatin1Char('\n');
        m_texts.clear();
        m_inBand = false;
    }

private:
    QString &m_out;
    QStringList m_texts;
    bool m_inBand = false;
};

} // namespace

void Report::paintPage(QPainter &painter, int page) const
{
    painter.save();
    painter.setPen(QPen(Qt::black, 0));
    PagePainter pagePainter(painter);
    visitPage(page, pagePainter);
    painter.restore();
}

QString Report::dump() const
{
    QString out;
    for (int p = 0; p < pageCount(); ++p) {
        out += QStringLiteral("page %1 of %2\n").arg(p + 1).arg(pageCount());
        PageDump pageDump(out);
        visitPage(p, pageDump);
    }
    return out;
}

} // namespace reportengine
