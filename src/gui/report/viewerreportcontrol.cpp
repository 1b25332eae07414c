#include <gui/report/viewerreportcontrol.h>

#include <report/report.h>

#include <QApplication>

namespace reportui {

ViewerReportControl::ViewerReportControl(ReportControlSettings settings)
    : m_settings(std::move(settings))
{}

Result<void> ViewerReportControl::run()
{
    m_lastViewer = nullptr;
    QString error;
    if (m_reportFileName.isEmpty()) {
        error = QStringLiteral("No report file was given to the report engine.");
    } else {
        const QDate date
            = m_settings.printDate.isValid() ? m_settings.printDate : QDate::currentDate();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        Result<reportengine::Report> report = reportengine::Report::open(m_reportFileName, date);
        QApplication::restoreOverrideCursor();
        if (report) {
            auto *viewer = new ReportViewer(
                std::make_unique<reportengine::Report>(std::move(report).value()),
                m_settings.reportError);
            viewer->setZoomPercent(m_settings.zoomPercent);
            viewer->show();
            viewer->raise();
            viewer->activateWindow();
            m_lastViewer = viewer;
            return {};
        }
        error = report.error();
    }
    if (m_settings.reportError)
        m_settings.reportError(QStringLiteral("Report"), error);
    else
        qWarning("%s", qPrintable(error));
    return Failure{error};
}

} // namespace reportui
