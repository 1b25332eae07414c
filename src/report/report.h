#pragma once

#include <core/base/result.h>
#include <core/text/alphabeticindex.h>
#include <report/reportdata.h>
#include <report/reportdefinition.h>

#include <QDate>
#include <QFont>
#include <QFontMetricsF>
#include <QList>
#include <QRect>
#include <QSize>

#include <memory>

class QPainter;

namespace reportengine {

class PageVisitor;

// One band of a laid-out page. Positions are twips (1/1440 inch) from the page's top edge.
struct LayoutBand
{
    enum class Kind : quint8 {
        ReportHeader,
        PageHeader,
        ColumnHeader,
        GroupHeader,
        Detail,
        PageFooter
    };
    Kind kind = Kind::Detail;
    bool continued = false; // a group header repeated at the top of a page
    int y = 0;
    int height = 0;
    int index = -1; // the data row of a detail band, the group of a group header
};

// A report ready to be shown: its definition, its rows and its pages. The page breaks are
// computed once, when the report is made; each page is painted on demand, in twips, onto
// whatever device the painter draws on, so screen, printer and PDF show the same layout.
class Report
{
public:
    // Loads the definition, reads its data source and lays out the pages. A failure names
    // the file and the reason.
    static Result<Report> open(const QString &definitionPath, const QDate &printDate);
    // The same from a definition and rows already at hand; fails when a column or the
    // group names a field the query does not return.
    static Result<Report>
    create(ReportDefinition definition, ReportData data, const QDate &printDate);

    const ReportDefinition &definition() const { return m_definition; }
    const ReportData &data() const { return m_data; }
    QString title() const { return m_definition.title; }
    QDate printDate() const { return m_printDate; }

    QSize pageSize() const { return m_pageSize; } // twips
    int pageCount() const { return int(m_pages.size()); }
    const QList<LayoutBand> &bands(int page) const { return m_pages.at(page); }
    int columnCount() const { return int(m_definition.columns.size()); }
    int rowCount() const { return int(m_data.rows.size()); }

    // The column's value for a row: its fields joined, empty ones dropped with their
    // separators. May hold line breaks.
    QString cellText(int row, int column) const;
    // The cell as painted: wrapped or clipped to the column's width.
    QStringList cellLines(int row, int column) const;
    QString groupTitle(int group) const { return m_groupTitles.at(group); }
    int groupCount() const { return int(m_groupTitles.size()); }
    // The heading of the row's group: the letter its value is filed under in the collation
    // locale's index ("#" for none), or the whole value; empty without a group.
    QString groupKey(int row) const;
    // A header or footer template with its placeholders filled for a page (0-based).
    QString pageText(const QString &text, int page) const;

    // Paints one page (0-based). The painter's coordinates must be twips.
    void paintPage(QPainter &painter, int page) const;

    // The laid-out pages as text, one band per line: the golden format of the tests.
    QString dump() const;

private:
    Report() = default;
    Result<void> resolveFields();
    Result<void> resolveParts(QList<ReportPart> &parts);
    QString joinParts(const QStringList &values, const QList<ReportPart> &parts) const;
    void layOut();
    int rowHeight(int row) const;
    QStringList fitLines(const QString &text, int width, bool wrap) const;
    // Hands the page's bands, texts and rules to the visitor in painting order.
    void visitPage(int page, PageVisitor &visitor) const;

    ReportDefinition m_definition;
    ReportData m_data;
    QDate m_printDate;
    int m_groupColumn = -1;
    QStringList m_groupTitles;
    // Built once per report: building reads the locale and costs more than many lookups.
    std::shared_ptr<const AlphabeticIndex> m_index;

    QFont m_font;
    QFont m_boldFont;
    QFont m_titleFont;
    QFont m_groupFont;
    std::shared_ptr<QFontMetricsF> m_metrics; // of m_font
    int m_lineHeight = 0;
    int m_maxLines = 1;
    QSize m_pageSize;
    QRect m_body; // the printable area between the margins
    QList<int> m_columnLeft;
    QList<int> m_columnWidth;
    QList<QList<LayoutBand>> m_pages;
};

// Millimetres to twips.
int mmToTwips(double mm);

} // namespace reportengine
