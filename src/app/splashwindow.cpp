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

const QString programPicture = QStringLiteral(":/pelmora/program.png");
const QString iconPicture = QStringLiteral(":/pelmora/icon32.png");

// The fixed dialog border lies outside the client area, whose size the layout fixes.
constexpr int borderWidth = 2;

} // namespace

SplashWindow::SplashWindow(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    using platform::twipsRect;

    setObjectName(QStringLiteral("frmSplash"));
    setAccessibleName(QStringLiteral("Pelmora"));
    setWindowIcon(QIcon(iconPicture));
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

    using platform::makeLabel;
    using platform::makePicture;
    using platform::TextFit;
    constexpr Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
    constexpr Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
    const QString productName = QStringLiteral("Pelmora");

    makePicture(m_client, QStringLiteral("Image4"), programPicture, productName,
                twipsRect(120, 120, 840, 840));
    makePicture(m_client, QStringLiteral("Image1"), programPicture, productName,
                twipsRect(4680, 120, 840, 840));
    makeLabel(m_client, QStringLiteral("Label1"), QStringLiteral("Pelmora"),
              twipsRect(1365, 720, 2850, 435), {18, false, {}, centred, TextFit::OneLine});
    makeLabel(m_client, QStringLiteral("Label2"),
              QStringLiteral("Programmed by the Pelmora developers"), twipsRect(0, 1200, 5655, 360),
              {13.5, false, {}, centred, TextFit::OneLine});
    makePicture(m_client, QStringLiteral("Image3"), iconPicture, productName,
                twipsRect(120, 2280, 480, 480), false);
    makeLabel(m_client, QStringLiteral("Label5"),
              QStringLiteral("Designed for Windows 2000 and XP Systems."),
              twipsRect(720, 2400, 3975, 255), {8.25, true, {}, left, TextFit::WidenToText});
    QLabel *loading
        = makeLabel(m_client, QStringLiteral("Label4"), QStringLiteral("Loading, Please Wait..."),
                    twipsRect(120, 2760, 1650, 195), {0, false, {}, left, TextFit::WidenToText});
    makeLabel(m_client, QStringLiteral("Label6"), QStringLiteral("Pelmora Software"),
              twipsRect(2400, 2760, 3210, 195), {8.25, true, {}, left, TextFit::WidenToText});

    m_progressBar = new QProgressBar(m_client);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setGeometry(twipsRect(120, 3000, 5415, 255));
    m_progressBar->setOrientation(Qt::Horizontal);
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
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
