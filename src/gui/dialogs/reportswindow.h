#pragma once

#include <gui/platform/controltable.h>
#include <gui/report/viewerreportcontrol.h>

#include <QWidget>

#include <functional>
#include <memory>
#include <span>

class QButtonGroup;
class QLabel;

// The report window: the user picks a report style and View Report hands the style's
// report definition to the report control. The window closes before the report runs.
class ReportsWindow : public QWidget
{
    Q_OBJECT

public:
    // Makes the report control for one run, from the settings stored with the layout.
    using ReportControlFactory = std::function<std::unique_ptr<reportengine::ReportControl>()>;

    // showMainWindow brings the main window to the front (Close uses it).
    explicit ReportsWindow(std::function<void()> showMainWindow,
                           ReportControlFactory makeReportControl = storedReportControl);
    ~ReportsWindow() override;

    // The report control as stored with the window: failures go to a message box.
    static std::unique_ptr<reportengine::ReportControl> storedReportControl();

    // The ids of the report style options in their group.
    enum class ReportStyle { Phone, Address, Email, Mailing };

    // The window's controls as they are made.
    static std::span<const platform::LayoutControl> layout();
    // What lblDescription says once the style's option is clicked.
    static QString description(ReportStyle style);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void optionClick(ReportStyle style);
    void cmdViewReportClick();
    void cmdCloseClick();

    std::function<void()> m_showMainWindow;
    ReportControlFactory m_makeReportControl;
    // optPhone, optAddress, optEmail and optMailing; none is selected until the window opens.
    QButtonGroup *m_reportStyle = nullptr;
    QLabel *m_lblDescription = nullptr;
    bool m_opened = false;
};
