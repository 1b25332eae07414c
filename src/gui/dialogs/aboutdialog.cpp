#include <gui/dialogs/aboutdialog.h>

#include <gui/dialogs/programinfowindow.h>

#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/label.h>
#include <gui/platform/programexit.h>
#include <gui/platform/twips.h>

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

AboutDialog::AboutDialog(std::function<void()> showMainWindow, QWidget *parent)
    : QWidget(parent)
    , m_showMainWindow(std::move(showMainWindow))
{
    // A dialog frame with a close box: not resizable, no minimise or maximise button, and no
    // taskbar entry.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Pelmora - About"));
    setAccessibleName(windowTitle());
    setWindowIcon(QIcon(QStringLiteral(":/pelmora/icon32.png")));
    setFont(platform::msSansSerif(8.25));
    setFixedSize(platform::twipsSize(6120, 4545));

    using platform::LabelLook;
    using platform::TextFit;
    const LabelLook bold{8.25, true};
    const LabelLook boldBlack{8.25, true, Qt::black};
    const LabelLook boldSized{8.25, true, {}, Qt::AlignLeft | Qt::AlignTop, TextFit::SizedToText};

    platform::makePicture(this, QStringLiteral("Image1"), QStringLiteral(":/pelmora/program.png"),
                          QStringLiteral("Pelmora"), platform::twipsRect(120, 120, 1320, 1320));
    platform::makeLabel(this, QStringLiteral("lblTitle"), QStringLiteral("Pelmora"),
                        platform::twipsRect(1560, 120, 4455, 480), {18, true, Qt::black});
    platform::makeLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version 3.0.0"),
                        platform::twipsRect(1560, 600, 4095, 345), {9.75, true});
    platform::makeLabel(this, QStringLiteral("lblDescription"),
                        QStringLiteral("This program is designed with a database to keep your "
                                       "contacts records.  Easy to use program for any computer "
                                       "user."),
                        platform::twipsRect(1560, 960, 4095, 675), boldBlack);
    platform::makeLabel(this, QStringLiteral("Label2"),
                        QStringLiteral("Programmed by the Pelmora developers"),
                        platform::twipsRect(1560, 1560, 1920, 195), boldSized);
    platform::makeLabel(this, QStringLiteral("Label4"), QStringLiteral("Created: July 21, 2007"),
                        platform::twipsRect(1560, 1800, 1935, 195), boldSized);
    m_image3 = platform::makePicture(
        this, QStringLiteral("Image3"), QStringLiteral(":/pelmora/icon32.png"),
        QStringLiteral("Pelmora"), platform::twipsRect(120, 1920, 480, 480));
    platform::makeLabel(this, QStringLiteral("Label5"),
                        QStringLiteral("This program is Designed for Windows 2000 and XP Systems."),
                        platform::twipsRect(720, 2040, 5055, 495), bold);
    platform::makeLabel(this, QStringLiteral("Label1"),
                        QStringLiteral("Built with C++, Qt 6 and SQLite."),
                        platform::twipsRect(720, 2640, 5055, 495), bold);

    m_frame1 = new QGroupBox(this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setAccessibleName(QStringLiteral("Pelmora Software"));
    m_frame1->setGeometry(platform::twipsRect(120, 3120, 5895, 1335));
    platform::makeLabel(
        m_frame1, QStringLiteral("Label6"), QStringLiteral("Pelmora Software"),
        platform::twipsRect(120, 840, 3210, 195),
        {8.25, true, Qt::black, Qt::AlignLeft | Qt::AlignTop, TextFit::SizedToText});
    platform::makeLabel(
        m_frame1, QStringLiteral("Label3"), QStringLiteral("Write to us: pelmora@example.org"),
        platform::twipsRect(120, 1095, 2595, 195),
        {8.25, false, Qt::blue, Qt::AlignLeft | Qt::AlignTop, TextFit::SizedToText});

    // Created after the frame, so they lie on top of its right-hand part.
    m_cmdOK = platform::makeCommandButton(this, QStringLiteral("cmdOK"), QStringLiteral("OK"),
                                          platform::twipsRect(4440, 3360, 1467, 345));
    m_cmdProgramInfo = platform::makeCommandButton(this, QStringLiteral("cmdProgramInfo"),
                                                   QStringLiteral("&Program Info"),
                                                   platform::twipsRect(4440, 3840, 1467, 345));

    setTabOrder(m_cmdProgramInfo, m_cmdOK);
    m_cmdProgramInfo->setFocus();

    connect(m_cmdOK, &QPushButton::clicked, this, &AboutDialog::ok);
    connect(m_cmdProgramInfo, &QPushButton::clicked, this, [] { info::showProgramInfo(); });

    platform::centreOnScreen(this);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::ok()
{
    close();
    // Never brings the main window back while the program is ending.
    if (m_showMainWindow && !platform::programIsEnding())
        m_showMainWindow();
}
