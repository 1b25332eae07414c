// Times a report: loading and laying out until the first page is painted, then a full PDF
// export, with the peak memory of the process. Usage:
//   reportbenchmark <definition.rpt> [<output.pdf>]
// The definition's database must lie beside it, as in the application folder.

#include <reportengine/crystalreport.h>
#include <reportengine/report.h>
#include <reportengine/reportexport.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <cstdio>

namespace {

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: reportbenchmark <definition.rpt> [<output.pdf>]\n");
        return 2;
    }
    const QString definition = QString::fromLocal8Bit(argv[1]);
    const QString pdf
        = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/reportbenchmark.pdf");

    QElapsedTimer timer;
    QString error;
    // How long the data source's read lock is held: the one read transaction alone.
    reportengine::ReportDefinition parsed;
    if (!reportengine::loadReportDefinition(definition, &parsed, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    timer.start();
    {
        reportengine::ReportData rows;
        if (!reportengine::readReportData(parsed.databasePath, parsed.query, &rows, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    const qint64 readOnly = timer.elapsed();

    timer.restart();
    const std::unique_ptr<reportengine::Report> report
        = reportengine::Report::open(definition, QDate::currentDate(), &error);
    if (!report) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const qint64 laidOut = timer.elapsed();
    // The viewer's first page at 100 % on a 96 dpi screen.
    QImage page(report->pageSize() * 96 / 1440, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(96.0 / 1440, 96.0 / 1440);
        report->paintPage(painter, 0);
    }
    const qint64 firstPage = timer.elapsed();
    const long memoryAfterLayout = peakKilobytes();

    timer.restart();
    if (!reportengine::exportPdf(*report, pdf, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const qint64 exported = timer.elapsed();
    const long memoryAfterExport = peakKilobytes();

    // The whole road as the user takes it: the report control opens a viewer, which paints
    // its first page.
    timer.restart();
    reportengine::CrystalReport control;
    control.setReportFileName(definition);
    if (!control.run())
        return 1;
    const QPixmap shown = control.lastViewer()->grab();
    const qint64 viewerShown = timer.elapsed();
    reportengine::closeAllReportViewers();

    std::printf("rows %d, pages %d\n", report->rowCount(), report->pageCount());
    std::printf("report control run to the viewer's first page painted %lld ms\n", viewerShown);
    std::printf("data source read (lock held) %lld ms\n", readOnly);
    std::printf("read and layout %lld ms, first page on screen %lld ms\n", laidOut, firstPage);
    std::printf("peak memory after layout %ld MB\n", memoryAfterLayout / 1024);
    std::printf("PDF export %lld ms, peak memory %ld MB\n", exported, memoryAfterExport / 1024);
    return 0;
}
