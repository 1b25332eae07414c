#include <app/splashwindow.h>

#include <gui/platform/fonts.h>
#include <gui/platform/label.h>
#include <gui/platform/twips.h>

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace {

// The fixed dialog border lies outside the client area, whose size the layout fixes.
constexpr int borderWidth = 2;

enum class Kind { Picture, Label, ProgressBar };

struct Control
{
    Kind kind;
    const char *name;
    const char *text; // what a label says, or a picture's resource
    QRect rect;
    platform::LabelLook look = {};
    bool stretched = true; // a picture's
};

using platform::LabelLook;
using platform::TextFit;
using platform::twipsRect;

constexpr const char *programPicture = ":/pelmora/program.png";
constexpr const char *iconPicture = ":/pelmora/icon32.png";
constexpr Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
constexpr Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;

// In creation order, which is the order the controls are drawn in.
constexpr Control controls[] = {
    {Kind::Picture, "Image4", programPicture, twipsRect(120, 120, 840, 840)},
    {Kind::Picture, "Image1", programPicture, twipsRect(4680, 120, 840, 840)},
    {Kind::Label,
     "Label1",
     "Pelmora",
     twipsRect(1365, 720, 2850, 435),
     {18, false, {}, centred, TextFit::OneLine}},
    {Kind::Label,
     "Label2",
     "Programmed by the Pelmora developers",
     twipsRect(0, 1200, 5655, 360),
     {13.5, false, {}, centred, TextFit::OneLine}},
    {Kind::Picture, "Image3", iconPicture, twipsRect(120, 2280, 480, 480), {}, false},
    {Kind::Label,
     "Label5",
     "Designed for Windows 2000 and XP Systems.",
     twipsRect(720, 2400, 3975, 255),
     {8.25, true, {}, left, TextFit::WidenToText}},
    // Names the progress bar below it.
    {Kind::Label,
     "Label4",
     "Loading, Please Wait...",
     twipsRect(120, 2760, 1650, 195),
     {0, false, {}, left, TextFit::WidenToText}},
    {Kind::Label,
     "Label6",
     "Pelmora Software",
     twipsRect(2400, 2760, 3210, 195),
     {8.25, true, {}, left, TextFit::WidenToText}},
    {Kind::ProgressBar, "ProgressBar1", "", twipsRect(120, 3000, 5415, 255)},
};

} // namespace

SplashWindow::SplashWindow(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAccessibleName(QStringLiteral("Pelmora"));
    setWindowIcon(QIcon(QString::fromLatin1(iconPicture)));
    setFont(platform::msSansSerif(8.25));

    // A splash-screen window has no frame of its own: draw the raised dialog border around
    // the client area ourselves.
    auto *border = new QFrame(this);
    border->setFrameStyle(QFrame::Panel | QFrame::Raised);
    border->setLineWidth(borderWidth);
    const QSize clientSize = platform::twipsSize(5655, 3345);
    const QSize outerSize = clientSize + QSize(2 * borderWidth, 2 * borderWidth);
    border->setGeometry(QRect(QPoint(0, 0), outerSize));
    setFixedSize(outerSize);

    m_client = new QWidget(this);
    m_client->setGeometry(QRect(QPoint(borderWidth, borderWidth), clientSize));

    const QString productName = QStringLiteral("Pelmora");
    for (const Control &control : controls) {
        const QString name = QString::fromLatin1(control.name);
        const QString text = QString::fromLatin1(control.text);
        switch (control.kind) {
        case Kind::Picture:
            platform::makePicture(m_client, name, text, productName, control.rect,
                                  control.stretched);
            break;
        case Kind::Label:
            platform::makeLabel(m_client, name, text, control.rect, control.look);
            break;
        case Kind::ProgressBar:
            m_progressBar = new QProgressBar(m_client);
            m_progressBar->setObjectName(name);
            m_progressBar->setGeometry(control.rect);
            m_progressBar->setOrientation(Qt::Horizontal);
            m_progressBar->setRange(0, 100);
            m_progressBar->setTextVisible(false);
            break;
        }
    }
    auto *loading = m_client->findChild<QLabel *>(QStringLiteral("Label4"));
    m_progressBar->setAccessibleName(loading->text());
    loading->setBuddy(m_progressBar);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1);
    m_timer->start();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), outerSize);
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

SplashWindow::~SplashWindow() = default;

void SplashWindow::setProgressValue(int value)
{
    m_progressBar->setValue(value);
    emit progressAssigned(value);
}

void SplashWindow::closeEvent(QCloseEvent *event)
{
    // Unloading the window ends its timer for good, also before the deferred delete.
    m_timer->stop();
    QWidget::closeEvent(event);
}
