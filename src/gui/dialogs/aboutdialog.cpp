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

namespace {

enum class Kind { Picture, Label, Frame, Button };

struct Control
{
    Kind kind;
    const char *name;
    const char *text; // a caption, what a label says, or a picture's resource
    QRect rect;
    platform::LabelLook look = {};
    const char *accessibleName = nullptr; // a picture's or the frame's, which show no text
    bool inFrame = false;
};

using platform::LabelLook;
using platform::TextFit;
using platform::twipsRect;

constexpr Qt::Alignment topLeft = Qt::AlignLeft | Qt::AlignTop;
constexpr LabelLook bold{8.25, true};
constexpr LabelLook boldBlack{8.25, true, Qt::black};
constexpr LabelLook boldSized{8.25, true, {}, topLeft, TextFit::SizedToText};

// In creation order, which is the order the controls are drawn in: the buttons come after
// the frame, so they lie on top of its right-hand part.
constexpr Control controls[] = {
    {Kind::Picture,
     "Image1",
     ":/pelmora/program.png",
     twipsRect(120, 120, 1320, 1320),
     {},
     "Pelmora"},
    {Kind::Label, "lblTitle", "Pelmora", twipsRect(1560, 120, 4455, 480), {18, true, Qt::black}},
    {Kind::Label, "lblVersion", "Version 3.0.0", twipsRect(1560, 600, 4095, 345), {9.75, true}},
    {Kind::Label, "lblDescription",
     "This program is designed with a database to keep your contacts records.  Easy to use "
     "program for any computer user.",
     twipsRect(1560, 960, 4095, 675), boldBlack},
    {Kind::Label, "Label2", "Programmed by the Pelmora developers",
     twipsRect(1560, 1560, 1920, 195), boldSized},
    {Kind::Label, "Label4", "Created: July 21, 2007", twipsRect(1560, 1800, 1935, 195), boldSized},
    {Kind::Picture,
     "Image3",
     ":/pelmora/icon32.png",
     twipsRect(120, 1920, 480, 480),
     {},
     "Pelmora"},
    {Kind::Label, "Label5", "This program is Designed for Windows 2000 and XP Systems.",
     twipsRect(720, 2040, 5055, 495), bold},
    {Kind::Label, "Label1", "Built with C++, Qt 6 and SQLite.", twipsRect(720, 2640, 5055, 495),
     bold},
    {Kind::Frame, "Frame1", "", twipsRect(120, 3120, 5895, 1335), {}, "Pelmora Software"},
    {Kind::Label,
     "Label6",
     "Pelmora Software",
     twipsRect(120, 840, 3210, 195),
     {8.25, true, Qt::black, topLeft, TextFit::SizedToText},
     nullptr,
     true},
    {Kind::Label,
     "Label3",
     "Write to us: pelmora@example.org",
     twipsRect(120, 1095, 2595, 195),
     {8.25, false, Qt::blue, topLeft, TextFit::SizedToText},
     nullptr,
     true},
    {Kind::Button, "cmdOK", "OK", twipsRect(4440, 3360, 1467, 345)},
    {Kind::Button, "cmdProgramInfo", "&Program Info", twipsRect(4440, 3840, 1467, 345)},
};

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

    QGroupBox *frame = nullptr;
    for (const Control &control : controls) {
        const QString name = QString::fromLatin1(control.name);
        const QString text = QString::fromLatin1(control.text);
        const QString accessibleName = QString::fromLatin1(control.accessibleName);
        QWidget *owner = control.inFrame ? static_cast<QWidget *>(frame) : this;
        switch (control.kind) {
        case Kind::Picture:
            platform::makePicture(owner, name, text, accessibleName, control.rect);
            break;
        case Kind::Label:
            platform::makeLabel(owner, name, text, control.rect, control.look);
            break;
        case Kind::Frame:
            frame = new QGroupBox(owner);
            frame->setObjectName(name);
            frame->setAccessibleName(accessibleName);
            frame->setGeometry(control.rect);
            break;
        case Kind::Button:
            platform::makeCommandButton(owner, name, text, control.rect);
            break;
        }
    }
    m_cmdOK = findChild<QPushButton *>(QStringLiteral("cmdOK"));
    m_cmdProgramInfo = findChild<QPushButton *>(QStringLiteral("cmdProgramInfo"));

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
