#pragma once

#include <core/base/result.h>

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QScrollArea;
class QSpinBox;
class QStatusBar;

namespace reportengine {
class Report;
}

namespace reportui {

class PageView;

// Tells the user about a failure: a title and a sentence that names the file and the reason.
using ErrorReporter = std::function<void(const QString &title, const QString &text)>;

// A report on screen in a top-level window of its own, titled with the report's title:
// page navigation, zoom, Print and Export (PDF, HTML, CSV). Only the page in view is
// painted. A viewer deletes itself when closed and never keeps the program running.
// Keys: Escape and Ctrl+W close; Ctrl++, Ctrl+- and Ctrl+0 (or Ctrl+wheel) zoom.
class ReportViewer : public QWidget
{
    Q_OBJECT

public:
    enum class Format { Pdf, Html, Csv };
    // Asks for the file to export to, starting from suggestedPath; empty when cancelled.
    using FileAsker = std::function<QString(const QString &suggestedPath, Format format)>;

    ReportViewer(std::unique_ptr<reportengine::Report> report, ErrorReporter reportError);
    ~ReportViewer() override;

    const reportengine::Report &report() const { return *m_report; }
    int currentPage() const { return m_page; } // 0-based
    void setCurrentPage(int page);
    int zoomPercent() const { return m_zoom; }
    void setZoomPercent(int percent);

    void zoomIn();
    void zoomOut();

    // Writes the report to path and names the file in the status line; a failure is
    // reported through the error reporter too.
    Result<void> exportTo(const QString &path, Format format);
    // Asks for a file name in the folder of the last export of this run (at first the home
    // folder), adds the format's extension to a name without one, then exports.
    void exportWithDialog(Format format);
    // Replaces the save dialog, for tests.
    void setFileAsker(FileAsker asker) { m_askFile = std::move(asker); }
    // Shows the system print dialog, then prints.
    void print();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateControls();
    QString askFileWithDialog(const QString &suggestedPath, Format format);

    std::unique_ptr<reportengine::Report> m_report;
    ErrorReporter m_reportError;
    FileAsker m_askFile;
    int m_page = 0;
    int m_zoom = 100;
    int m_wheelDelta = 0; // eighths of a degree not yet turned into a zoom step
    PageView *m_view = nullptr;
    QScrollArea *m_scroll = nullptr;
    QSpinBox *m_pageBox = nullptr;
    QLabel *m_pageCount = nullptr;
    QComboBox *m_zoomBox = nullptr;
    QStatusBar *m_status = nullptr;
};

// Closes every open report viewer. The application calls it when its main window closes.
void closeAllReportViewers();
// The viewers now open, oldest first.
QList<ReportViewer *> openReportViewers();

} // namespace reportui
