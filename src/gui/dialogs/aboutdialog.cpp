#include <gui/dialogs/aboutdialog.h>

#include <gui/dialogs/programinfowindow.h>

#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/programexit.h>
#include <gui/platform/twips.h>

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

struct LabelLook
{
    QFont font;
    QColor colour; // invalid: the window's text colour
    bool sizedToText = false;
};

QLabel *makeLabel(QWidget *parent,
                  const QString &name,
                  const QString &text,
                  const QRect &rect,
                  const LabelLook &look)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(look.font);
    if (look.colour.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, look.colour);
        label->setPalette(palette);
    }
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(rect);
    if (look.sizedToText)
        label->adjustSize();
    else
        label->setWordWrap(true);
    return label;
}

QLabel *makePicture(QWidget *parent, const QString &name, const QString &file, const QRect &rect)
{
    auto *picture = new QLabel(parent);
    picture->setObjectName(name);
    picture->setAccessibleName(QStringLiteral("Pelmora"));
    picture->setPixmap(QPixmap(file));
    picture->setScaledContents(true);
    picture->setGeometry(rect);
    return picture;
}

} // namespace

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

    const QFont bold = platform::msSansSerif(8.25, true);
    const QColor black(Qt::black);

    makePicture(this, QStringLiteral("Image1"), QStringLiteral(":/pelmora/program.png"),
                platform::twipsRect(120, 120, 1320, 1320));
    makeLabel(this, QStringLiteral("lblTitle"), QStringLiteral("Pelmora"),
              platform::twipsRect(1560, 120, 4455, 480), {platform::msSansSerif(18, true), black});
    makeLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version 3.0.0"),
              platform::twipsRect(1560, 600, 4095, 345), {platform::msSansSerif(9.75, true), {}});
    makeLabel(this, QStringLiteral("lblDescription"),
              QStringLiteral("This program is designed with a database to keep your contacts "
                             "records.  Easy to use program for any computer user."),
              platform::twipsRect(1560, 960, 4095, 675), {bold, black});
    makeLabel(this, QStringLiteral("Label2"),
              QStringLiteral("Programmed by the Pelmora developers"),
              platform::twipsRect(1560, 1560, 1920, 195), {bold, {}, true});
    makeLabel(this, QStringLiteral("Label4"), QStringLiteral("Created: July 21, 2007"),
              platform::twipsRect(1560, 1800, 1935, 195), {bold, {}, true});
    m_image3 = makePicture(this, QStringLiteral("Image3"), QStringLiteral(":/pelmora/icon32.png"),
                           platform::twipsRect(120, 1920, 480, 480));
    makeLabel(this, QStringLiteral("Label5"),
              QStringLiteral("This program is Designed for Windows 2000 and XP Systems."),
              platform::twipsRect(720, 2040, 5055, 495), {bold, {}});
    makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Built with C++, Qt 6 and SQLite."),
              platform::twipsRect(720, 2640, 5055, 495), {bold, {}});

    m_frame1 = new QGroupBox(this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setAccessibleName(QStringLiteral("Pelmora Software"));
    m_frame1->setGeometry(platform::twipsRect(120, 3120, 5895, 1335));
    makeLabel(m_frame1, QStringLiteral("Label6"), QStringLiteral("Pelmora Software"),
              platform::twipsRect(120, 840, 3210, 195), {bold, black, true});
    makeLabel(m_frame1, QStringLiteral("Label3"),
              QStringLiteral("Write to us: pelmora@example.org"),
              platform::twipsRect(120, 1095, 2595, 195),
              {platform::msSansSerif(8.25), QColor(Qt::blue), true});

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
