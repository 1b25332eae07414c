#include <gui/dialogs/reportswindow.h>

#include <core/files/apppath.h>
#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/label.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>
#include <gui/report/crystalreport.h>

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString reportsTitle = QStringLiteral("Pelmora - Reports");

} // namespace

QString ReportsWindow::phoneDescription()
{
    return QStringLiteral(
        "This report will display your contacts information in a phone book catalog "
        "style.  This report is common for having all work / home, cell, and fax "
        "numbers all in one report.");
}

QString ReportsWindow::addressDescription()
{
    return QStringLiteral(
        "This report will display your contacts information in an address book "
        "catalog style.  This report is common for having all your mailing address "
        "information all in one report.");
}

QString ReportsWindow::emailDescription()
{
    return QStringLiteral("This report will display your contacts email address in an address book "
                          "catalog style.  This report is common for having all your email address "
                          "information all in one report.");
}

QString ReportsWindow::mailingDescription()
{
    return QStringLiteral(
        "This report will create mailing labels of your contacts information.  This "
        "report is common for having all your address information on a label per "
        "contact record.");
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

    platform::makeLabel(this, QStringLiteral("Label1"),
                        QStringLiteral("Welcome to Pelmora Reports.  Please select a report style "
                                       "and then click 'View Report' to display the desired "
                                       "report.  These reports can be exported and printed."),
                        platform::twipsRect(120, 120, 4935, 735));

    auto *frame1 = new QGroupBox(QStringLiteral("Report Style"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setAccessibleName(frame1->title());
    frame1->setGeometry(platform::twipsRect(480, 1080, 2295, 2175));

    m_reportStyle = new QButtonGroup(this);
    auto option = [&](const char *name, const QString &caption, int top, ReportStyle style) {
        auto *button = new QRadioButton(caption, frame1);
        button->setObjectName(QLatin1String(name));
        button->setAccessibleName(caption);
        button->setGeometry(platform::twipsRect(120, top, 2055, 375));
        m_reportStyle->addButton(button, int(style));
        return button;
    };
    QRadioButton *optPhone
        = option("optPhone", QStringLiteral("Phone Listing"), 240, ReportStyle::Phone);
    QRadioButton *optAddress
        = option("optAddress", QStringLiteral("Address Listing"), 720, ReportStyle::Address);
    QRadioButton *optEmail
        = option("optEmail", QStringLiteral("Email Listing"), 1200, ReportStyle::Email);
    QRadioButton *optMailing
        = option("optMailing", QStringLiteral("Mailing Labels"), 1680, ReportStyle::Mailing);
    connect(m_reportStyle, &QButtonGroup::idClicked, this,
            [this](int id) { optionClick(ReportStyle(id)); });

    auto button = [this](const char *name, const QString &caption, int top) {
        return platform::makeCommandButton(this, QLatin1String(name), caption,
                                           platform::twipsRect(3120, top, 1815, 495));
    };
    QPushButton *cmdViewReport = button("cmdViewReport", QStringLiteral("&View Report"), 1200);
    QPushButton *cmdClose = button("cmdClose", QStringLiteral("&Close"), 1800);
    connect(cmdViewReport, &QPushButton::clicked, this, &ReportsWindow::cmdViewReportClick);
    connect(cmdClose, &QPushButton::clicked, this, &ReportsWindow::cmdCloseClick);

    m_lblDescription = platform::makeLabel(
        this, QStringLiteral("lblDescription"),
        QStringLiteral("Select a Report Style and This will Describe the Report."),
        platform::twipsRect(240, 3360, 4815, 975));

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
    reportengine::ReportControlSettings settings;
    settings.reportError = [](const QString &title, const QString &text) {
        platform::showMessage(title, text, platform::MessageIcon::Critical,
                              platform::MessageButtons::Ok);
    };
    return std::make_unique<reportengine::CrystalReport>(settings);
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
    switch (style) {
    case ReportStyle::Phone:
        m_lblDescription->setText(phoneDescription());
        break;
    case ReportStyle::Address:
        m_lblDescription->setText(addressDescription());
        break;
    case ReportStyle::Email:
        m_lblDescription->setText(emailDescription());
        break;
    case ReportStyle::Mailing:
        m_lblDescription->setText(mailingDescription());
        break;
    }
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
    std::unique_ptr<reportengine::ReportControl> crystalReport1 = makeReportControl();
    crystalReport1->setReportFileName(platform::appFile(reportFile));
    // A failure has gone to the control's error reporter.
    static_cast<void>(crystalReport1->run());
}

void ReportsWindow::cmdCloseClick()
{
    const std::function<void()> showMainWindow = m_showMainWindow;
    close();
    if (showMainWindow)
        showMainWindow();
}
