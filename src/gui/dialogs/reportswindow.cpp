#include <gui/dialogs/reportswindow.h>

#include <core/files/apppath.h>
#include <gui/platform/centring.h>
#include <gui/platform/controltable.h>
#include <gui/platform/fonts.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>
#include <gui/report/viewerreportcontrol.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>

namespace {

const QString reportsTitle = QStringLiteral("Pelmora - Reports");

using Kind = platform::LayoutControl::Kind;
using platform::twipsRect;
using Style = ReportsWindow::ReportStyle;

constexpr platform::LayoutControl controls[] = {
    {Kind::Label, "Label1",
     "Welcome to Pelmora Reports.  Please select a report style and then click 'View Report' "
     "to display the desired report.  These reports can be exported and printed.",
     twipsRect(120, 120, 4935, 735)},
    {Kind::Frame, "Frame1", "Report Style", twipsRect(480, 1080, 2295, 2175)},
    {Kind::Option, "optPhone", "Phone Listing", twipsRect(120, 240, 2055, 375), int(Style::Phone),
     "This report will display your contacts information in a phone book catalog style.  This "
     "report is common for having all work / home, cell, and fax numbers all in one report."},
    {Kind::Option, "optAddress", "Address Listing", twipsRect(120, 720, 2055, 375),
     int(Style::Address),
     "This report will display your contacts information in an address book catalog style.  "
     "This report is common for having all your mailing address information all in one "
     "report."},
    {Kind::Option, "optEmail", "Email Listing", twipsRect(120, 1200, 2055, 375), int(Style::Email),
     "This report will display your contacts email address in an address book catalog style.  "
     "This report is common for having all your email address information all in one report."},
    {Kind::Option, "optMailing", "Mailing Labels", twipsRect(120, 1680, 2055, 375),
     int(Style::Mailing),
     "This report will create mailing labels of your contacts information.  This report is "
     "common for having all your address information on a label per contact record."},
    {Kind::Button, "cmdViewReport", "&View Report", twipsRect(3120, 1200, 1815, 495)},
    {Kind::Button, "cmdClose", "&Close", twipsRect(3120, 1800, 1815, 495)},
    {Kind::Label, "lblDescription", "Select a Report Style and This will Describe the Report.",
     twipsRect(240, 3360, 4815, 975)},
};

} // namespace

std::span<const platform::LayoutControl> ReportsWindow::layout()
{
    return controls;
}

QString ReportsWindow::description(ReportStyle style)
{
    return platform::optionDescription(controls, int(style));
}

ReportsWindow::ReportsWindow(std::function<void()> showMainWindow,
                             ReportControlFactory makeReportControl)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_showMainWindow(std::move(showMainWindow))
    , m_makeReportControl(std::move(makeReportControl))
{
    setObjectName(QStringLiteral("frmReports"));
    setWindowTitle(reportsTitle);
    setAccessibleName(reportsTitle);
    setFont(platform::msSansSerif(8.25));
    resize(platform::twipsSize(5295, 4515));

    m_reportStyle = new QButtonGroup(this);
    platform::makeControls(this, m_reportStyle, controls);
    m_lblDescription = findChild<QLabel *>(QStringLiteral("lblDescription"));
    auto *cmdViewReport = findChild<QPushButton *>(QStringLiteral("cmdViewReport"));
    auto *cmdClose = findChild<QPushButton *>(QStringLiteral("cmdClose"));
    QAbstractButton *optPhone = m_reportStyle->button(int(ReportStyle::Phone));
    QAbstractButton *optAddress = m_reportStyle->button(int(ReportStyle::Address));
    QAbstractButton *optEmail = m_reportStyle->button(int(ReportStyle::Email));
    QAbstractButton *optMailing = m_reportStyle->button(int(ReportStyle::Mailing));

    connect(m_reportStyle, &QButtonGroup::idClicked, this,
            [this](int id) { optionClick(ReportStyle(id)); });
    connect(cmdViewReport, &QPushButton::clicked, this, &ReportsWindow::cmdViewReportClick);
    connect(cmdClose, &QPushButton::clicked, this, &ReportsWindow::cmdCloseClick);

    setTabOrder(optPhone, optAddress);
    setTabOrder(optAddress, optEmail);
    setTabOrder(optEmail, optMailing);
    setTabOrder(optMailing, cmdViewReport);
    setTabOrder(cmdViewReport, cmdClose);
    // One stop for the options: Tab enters at the selected one, the arrow keys select and
    // click the one above or below, so the focus and the selection move together.
    platform::makeOptionGroup(m_reportStyle);

    platform::centreOnScreen(this);
}

ReportsWindow::~ReportsWindow() = default;

std::unique_ptr<reportengine::ReportControl> ReportsWindow::storedReportControl()
{
    reportui::ReportControlSettings settings;
    settings.reportError = [](const QString &title, const QString &text) {
        platform::showMessage(title, text, platform::MessageIcon::Critical,
                              platform::MessageButtons::Ok);
    };
    return std::make_unique<reportui::ViewerReportControl>(settings);
}

void ReportsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_opened)
        return;
    m_opened = true;
    // At opening the focus goes to optPhone, and an option that takes the focus is selected.
    QAbstractButton *optPhone = m_reportStyle->button(int(ReportStyle::Phone));
    optPhone->setFocus(Qt::TabFocusReason);
    if (!optPhone->isChecked()) {
        optPhone->setChecked(true);
        optionClick(ReportStyle::Phone);
    }
}

void ReportsWindow::optionClick(ReportStyle style)
{
    m_lblDescription->setText(description(style));
}

void ReportsWindow::cmdViewReportClick()
{
    QString reportFile;
    switch (m_reportStyle->checkedId()) {
    case int(ReportStyle::Phone):
        reportFile = QStringLiteral("phonelist.rpt");
        break;
    case int(ReportStyle::Address):
        reportFile = QStringLiteral("addresslist.rpt");
        break;
    case int(ReportStyle::Email):
        reportFile = QStringLiteral("emaillist.rpt");
        break;
    case int(ReportStyle::Mailing):
        platform::showMessage(reportsTitle, QStringLiteral("Working on this section now."),
                              platform::MessageIcon::Information, platform::MessageButtons::Ok);
        return;
    default: // none selected yet
        platform::showMessage(reportsTitle,
                              QStringLiteral("Please Select the Style of Report you would like."),
                              platform::MessageIcon::Information, platform::MessageButtons::Ok);
        return;
    }
    // The window goes first; the report control is made afresh from the stored settings,
    // so nothing of an earlier run carries over, and it does not live in this window.
    const ReportControlFactory makeReportControl = m_makeReportControl;
    close();
    std::unique_ptr<reportengine::ReportControl> reportControl = makeReportControl();
    reportControl->setReportFileName(files::appFile(reportFile));
    // A failure has gone to the control's error reporter.
    static_cast<void>(reportControl->run());
}

void ReportsWindow::cmdCloseClick()
{
    const std::function<void()> showMainWindow = m_showMainWindow;
    close();
    if (showMainWindow)
        showMainWindow();
}
