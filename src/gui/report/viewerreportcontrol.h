#pragma once

#include <gui/report/reportviewer.h>
#include <report/reportcontrol.h>

#include <QDate>
#include <QString>

namespace reportui {

// The settings a report control starts from. The report file is not among them: it is
// set before every run.
struct ReportControlSettings
{
    ErrorReporter reportError;
    int zoomPercent = 100;
    // The date printed in page headers; today when not set.
    QDate printDate;
};

// The report control: loads the definition named by the report file, reads its data
// source, lays the pages out and opens a viewer. The control keeps nothing of a run: the
// viewer owns the report, so the control may be dropped as soon as run() returns.
class ViewerReportControl final : public reportengine::ReportControl
{
public:
    explicit ViewerReportControl(ReportControlSettings settings = {});

    void setReportFileName(const QString &path) override { m_reportFileName = path; }
    QString reportFileName() const override { return m_reportFileName; }
    Result<void> run() override;

    // The viewer the last successful run opened, or nullptr.
    ReportViewer *lastViewer() const { return m_lastViewer; }

private:
    ReportControlSettings m_settings;
    QString m_reportFileName;
    ReportViewer *m_lastViewer = nullptr;
};

} // namespace reportui
