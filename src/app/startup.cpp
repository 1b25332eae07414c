#include "startup.h"

#include <gui/mainwindow/mainwindow.h>

#include "windows.h"
#include <app/splashwindow.h>

#include <core/files/apppath.h>
#include <core/interchange/jetconversion.h>
#include <core/settings/inireader.h>
#include <core/settings/settingsfiles.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/programexit.h>
#include <gui/platform/programlauncher.h>
#include <gui/platform/windowslot.h>

#include <QGuiApplication>
#include <QTimer>

#include <QWindow>
#include <cstdio>
#include <utility>

namespace app {

namespace {

QStringList &filesToImport()
{
    static QStringList files;
    return files;
}

platform::WindowSlot<SplashWindow> &splashSlot()
{
    static platform::WindowSlot<SplashWindow> slot;
    return slot;
}

// Offers the report engine's installer; the program ends whatever the answer.
void offerInstaller()
{
    const platform::MessageAnswer answer = platform::showMessage(
        QStringLiteral("Program Required"),
        QStringLiteral("Crystal Reports has not been installed on this machine. Crystal Reports is "
                       "required to be installed to view reports. To begin the installation of "
                       "Crystal Reports click 'ok'."),
        platform::MessageIcon::Critical, platform::MessageButtons::OkCancel);
    if (answer == platform::MessageAnswer::Ok) {
        const QString installer = files::appFile(QStringLiteral("crystl32/crystl32.exe"));
        if (const Result<void> started = platform::startProgram(installer); !started) {
            platform::showMessage(
                {},
                QStringLiteral("The Crystal Reports installer could not be started.\n\n%1\n%2")
                    .arg(installer, started.error()),
                platform::MessageIcon::Critical);
        }
    }
    platform::endProgram();
}

// A cntdb.mdb still in the Access (Jet) format is offered for conversion. Answers whether the
// start-up goes on: after a conversion, or after No, when the main window then meets the
// file as it always did and ends the program with its message.
bool offerJetConversion()
{
    const QString path = files::appFile(QStringLiteral("cntdb.mdb"));
    if (!interchange::isJetFile(path))
        return true;
    const platform::MessageAnswer answer = platform::showMessage(
        QStringLiteral("Pelmora"),
        QStringLiteral("The address book %1 is in the Access (Jet) format. Convert it now?\n\n"
                       "The original is kept as %2.")
            .arg(path, interchange::jetBackupPath(path)),
        platform::MessageIcon::Question, platform::MessageButtons::YesNo);
    if (answer != platform::MessageAnswer::Yes)
        return true;
    const Result<interchange::JetConversion> converted = interchange::convertJetDatabase(path);
    if (!converted) {
        platform::showMessage({}, converted.error(), platform::MessageIcon::Critical);
        return false;
    }
    return true;
}

// The progress animation is only a delay: 20,001 assignments, no sleeping and no events.
void animateProgress(SplashWindow *splash)
{
    splash->setProgressValue(0);
    for (int value = 5; value <= 100; value += 5) {
        for (int i = 1; i <= 1000; ++i)
            splash->setProgressValue(value);
    }
}

// Unloads the splash window and shows the main window in its place.
void handOver(SplashWindow *splash)
{
    // For a moment no window is open. A splash-screen window never counts as the last window
    // in Qt; this keeps that so whatever type the splash window has.
    const bool quitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    splash->close();
    const bool shown = showMainWindow();
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindowClosed);
    if (!shown) {
        platform::endProgram();
        return;
    }
    if (!filesToImport().isEmpty())
        mainWindow()->offerImport(std::exchange(filesToImport(), {}));
}

// The rest of the start-up, run by the first tick of Timer1.
void onFirstTick(SplashWindow *splash)
{
    const Result<QString> installed = settings::readIniKey(
        settings::crystlIniPath(), settings::settingsSection, settings::installedKey);
    if (!installed) {
        platform::showMessage({},
                              QStringLiteral("Pelmora cannot start: the file that records whether "
                                             "Crystal Reports is installed cannot be read.\n\n%1")
                                  .arg(installed.error()),
                              platform::MessageIcon::Critical);
        platform::endProgram();
        return;
    }
    if (*installed == QLatin1String("0")) {
        offerInstaller();
        return;
    }
    if (!offerJetConversion()) {
        platform::endProgram();
        return;
    }
    animateProgress(splash);
    handOver(splash);
}

// Timer1's tick handler. Ticks that arrive before the splash window is on screen and painted
// do not count yet; a window system that never reports it exposed holds the start-up for no
// more than a thousand ticks. After the first tick that counts no tick runs anything: Qt holds
// the timer back while its handler runs, even in a message box's event loop, but the timer
// ticks on when the handler returned without unloading the window (the program was asked to
// end, which takes effect only back in the event loop).
class Timer1Handler
{
public:
    explicit Timer1Handler(SplashWindow *splash)
        : m_splash(splash)
    {}

    void operator()()
    {
        if (m_entered)
            return;
        const QWindow *window = m_splash->windowHandle();
        if (!(window && window->isExposed()) && ++m_unexposedTicks < maxUnexposedTicks)
            return;
        m_entered = true;
        onFirstTick(m_splash);
    }

private:
    static constexpr int maxUnexposedTicks = 1000;
    SplashWindow *m_splash;
    int m_unexposedTicks = 0;
    bool m_entered = false;
};

SplashWindow *createSplash()
{
    auto *splash = new SplashWindow;
    QObject::connect(splash->timer(), &QTimer::timeout, splash, Timer1Handler(splash));
    return splash;
}

} // namespace

void setFilesToImport(const QStringList &files)
{
    filesToImport() = files;
}

void startup()
{
    // An installed program keeps the user's files in a folder of their own, made and filled
    // here; without it there is no address book to open.
    if (const Result<QString> folder = files::openAppFolder(); !folder) {
        std::fprintf(stderr, "pelmora: %s\n", qPrintable(folder.error()));
        platform::showMessage({}, folder.error(), platform::MessageIcon::Critical);
        platform::endProgram(1);
        return;
    }
    splashSlot().show(createSplash);
}

SplashWindow *splashWindow()
{
    return splashSlot().window();
}

} // namespace app
