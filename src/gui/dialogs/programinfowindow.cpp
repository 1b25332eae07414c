#include <gui/dialogs/programinfowindow.h>

#include <core/files/textdecoding.h>
#include <core/settings/settingsfiles.h>
#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/label.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/twips.h>
#include <gui/platform/windowslot.h>
#include <gui/platform/wrappingtextedit.h>

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

platform::WindowSlot<ProgramInfoWindow> &programInfoSlot()
{
    static platform::WindowSlot<ProgramInfoWindow> slot;
    return slot;
}

// The box breaks lines at LF only; a CR would become a line break of its own, so CR LF would
// show an empty line after every line.
QString withLineFeeds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

enum class Kind { Picture, Frame, TextBox, Button };

struct Control
{
    Kind kind;
    const char *name;
    const char *text;                     // a caption, or a picture's resource
    QRect rect;                           // the text box's lies in the frame above it
    const char *accessibleName = nullptr; // the picture's
};

using platform::twipsRect;

// In creation order, which is the order the controls are drawn in.
constexpr Control controls[] = {
    {Kind::Picture, "Image3", ":/pelmora/icon32.png", twipsRect(120, 120, 480, 480),
     "Program icon"},
    {Kind::Frame, "Frame1", "Program Information", twipsRect(720, 120, 3855, 1335)},
    {Kind::TextBox, "txtProgramInfo", "", twipsRect(120, 240, 3615, 975)},
    {Kind::Button, "cmdClose", "&Close", twipsRect(3720, 3000, 855, 375)},
};

} // namespace

ProgramInfoWindow::ProgramInfoWindow(QWidget *parent)
    : QWidget(parent)
{
    // No control box: no system menu and no close, minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setObjectName(QStringLiteral("frmProgramInfo"));
    setWindowTitle(QStringLiteral("Program Information"));
    setAccessibleName(windowTitle());
    setWindowIcon(QIcon(QStringLiteral(":/pelmora/icon32.png")));
    setFont(platform::msSansSerif(8.25));
    setFixedSize(platform::twipsSize(4695, 3495));

    QGroupBox *frame = nullptr;
    for (const Control &control : controls) {
        const QString name = QString::fromLatin1(control.name);
        const QString text = QString::fromLatin1(control.text);
        switch (control.kind) {
        case Kind::Picture:
            platform::makePicture(this, name, text, QString::fromLatin1(control.accessibleName),
                                  control.rect);
            break;
        case Kind::Frame:
            frame = new QGroupBox(text, this);
            frame->setObjectName(name);
            frame->setAccessibleName(text);
            frame->setGeometry(control.rect);
            break;
        case Kind::TextBox: {
            m_txtProgramInfo = new platform::WrappingTextEdit(frame);
            m_txtProgramInfo->setObjectName(name);
            m_txtProgramInfo->setAccessibleName(frame->title());
            m_txtProgramInfo->setGeometry(control.rect);
            // Locked: the text can be selected, copied and walked with the caret, never
            // changed.
            m_txtProgramInfo->setReadOnly(true);
            m_txtProgramInfo->setTextInteractionFlags(Qt::TextSelectableByMouse
                                                      | Qt::TextSelectableByKeyboard);
            m_txtProgramInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            m_txtProgramInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            m_txtProgramInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            m_txtProgramInfo->setTabChangesFocus(true);
            QPalette palette = m_txtProgramInfo->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Button));
            m_txtProgramInfo->setPalette(palette);
            break;
        }
        case Kind::Button:
            m_cmdClose = platform::makeCommandButton(this, name, text, control.rect);
            break;
        }
    }

    setTabOrder(m_txtProgramInfo, m_cmdClose);
    m_txtProgramInfo->setFocus();

    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);

    platform::centreOnScreen(this);
}

ProgramInfoWindow::~ProgramInfoWindow() = default;

QString ProgramInfoWindow::load()
{
    m_txtProgramInfo->clear();
    const QString path = settings::programInfoPath();
    QFile file(path);
    // The whole file, however long: nothing is cut off at any size.
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    m_txtProgramInfo->showText(withLineFeeds(files::decodeText(bytes)));
    return {};
}

namespace info {

ProgramInfoWindow *showProgramInfo()
{
    QString error;
    ProgramInfoWindow *window = programInfoSlot().show([&error] {
        auto *created = new ProgramInfoWindow;
        error = created->load();
        return created;
    });
    // After the window is up, so the box stands in front of the window it explains.
    if (!error.isEmpty()) {
        platform::showMessage(
            QStringLiteral("Program Information"),
            QStringLiteral("The program information could not be read.\n\n%1").arg(error),
            platform::MessageIcon::Critical);
    }
    return window;
}

ProgramInfoWindow *programInfoWindow()
{
    return programInfoSlot().window();
}

} // namespace info
