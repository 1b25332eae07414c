#include <gui/report/reportprinting.h>

#include <report/report.h>
#include <report/reportexport.h>

#include <QPainter>
#include <QPrinter>

#include <algorithm>

namespace reportui {

Result<void> printReport(const reportengine::Report &report, QPrinter &printer)
{
    printer.setDocName(report.title());
    QPainter painter;
    if (!painter.begin(&printer)) {
        return Failure{QStringLiteral("The report \"%1\" could not be printed: the printer \"%2\" "
                                      "could not be started.")
                           .arg(report.title(), printer.printerName().isEmpty()
                                                    ? printer.outputFileName()
                                                    : printer.printerName())};
    }
    int first = 0;
    int last = report.pageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::clamp(printer.fromPage() - 1, 0, last);
        last = std::clamp(printer.toPage() - 1, first, last);
    }
    const QRectF pageRect = printer.pageRect(QPrinter::DevicePixel)
                                .translated(-printer.pageRect(QPrinter::DevicePixel).topLeft());
    const Result<void> painted = reportengine::paintPages(
        report, painter, [&] { return printer.newPage(); }, pageRect, first, last);
    painter.end();
    if (!painted)
        return Failure::input(QStringLiteral("The report \"%1\" could not be printed: %2.")
                                  .arg(report.title(), painted.error()));
    return {};
}

} // namespace reportui
