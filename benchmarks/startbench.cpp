// pelmora_startbench: start-up as a whole process. Launches the real executable from a
// temporary application folder on the X display in DISPLAY (an Xvfb of the benchmark script's
// own) and watches the X server: when the main window is mapped, and when its Last Name
// field shows text (the first record drawn on screen). The program itself is unchanged; the
// watching is done from outside, through the X server only.
//   pelmora_startbench <database> [runs]
// Prints the same tab-separated lines as pelmora_bench.
#include "benchfolder.h"
#include "peakmemory.h"
#include "samples.h"
#include "sqlitefloor.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char mainWindowTitle[] = "Pelmora - Contacts Listing";

// txtLastName's rectangle in the main window's client area, in pixels (twips / 15), with the
// frame left out: 6960, 1440, 6735, 405 twips.
constexpr int fieldLeft = 464 + 4;
constexpr int fieldTop = 96 + 4;
constexpr int fieldWidth = 449 - 8;
constexpr int fieldHeight = 27 - 8;

[[noreturn]] void die(const char *message)
{
    std::fprintf(stderr, "pelmora_startbench: %s\n", message);
    std::exit(1);
}

int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0; // a window may go away or not be viewable yet while we look at it
}

// Text drawn in the field: mostly a light background with some dark glyph pixels. An
// unpainted window is one colour (the script runs Xvfb with a black root).
bool fieldShowsText(Display *display, Window window)
{
    XImage *image = XGetImage(display, window, fieldLeft, fieldTop, fieldWidth, fieldHeight,
                              AllPlanes, ZPixmap);
    if (!image)
        return false;
    int light = 0;
    int dark = 0;
    for (int y = 0; y < fieldHeight; ++y) {
        for (int x = 0; x < fieldWidth; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const int luma
                = int(((pixel >> 16) & 0xff) * 3 + ((pixel >> 8) & 0xff) * 6 + (pixel & 0xff)) / 10;
            light += luma > 200;
            dark += luma < 100;
        }
    }
    XDestroyImage(image);
    return light > fieldWidth * fieldHeight / 2 && dark >= 10;
}

bool isMainWindow(Display *display, Window window)
{
    char *name = nullptr;
    const bool found
        = XFetchName(display, window, &name) && name && std::string_view(name) == mainWindowTitle;
    if (name)
        XFree(name);
    return found;
}

struct Launch
{
    double firstWindowMs = -1; // the splash, when there is one before the main window
    double mappedMs = -1;
    double paintedMs = -1;
    qint64 peakKiB = -1;
};

Launch launchOnce(Display *display, const BenchFolder &folder)
{
    Launch launch;
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True);

    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid < 0)
        die("fork failed");
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        unsetenv("QT_QPA_PLATFORM");
        const QByteArray exe = folder.executable().toLocal8Bit();
        execl(exe.constData(), exe.constData(), static_cast<char *>(nullptr));
        _exit(127);
    }

    Window mainWindow = 0;
    while (launch.paintedMs < 0) {
        if (timer.elapsed() > 120000)
            break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            die("the program ended before its main window showed a record");
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify)
                continue;
            const double now = elapsedMs(timer);
            if (isMainWindow(display, event.xmap.window)) {
                mainWindow = event.xmap.window;
                launch.mappedMs = now;
            } else if (launch.firstWindowMs < 0 && !mainWindow) {
                launch.firstWindowMs = now;
            }
        }
        if (mainWindow && fieldShowsText(display, mainWindow)) {
            launch.paintedMs = elapsedMs(timer);
            launch.peakKiB = bench::procStatusKiB(QStringLiteral("VmHWM"), pid);
            break;
        }
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 1);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XSelectInput(display, root, NoEventMask);
    if (launch.paintedMs < 0)
        die("the main window did not show a record within two minutes");
    return launch;
}

void print(int records, const char *name, const Samples &samples)
{
    if (samples.isEmpty())
        return;
    std::printf("figure\t%d\t%s\t%.3f\t-\t%d\n", records, name, samples.median(), samples.count());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 2)
        die("usage: pelmora_startbench <database> [runs]");
    const int runs = std::max(1, args.value(2, QStringLiteral("5")).toInt());
    BenchFolder folder(args.value(1));
    if (!folder.isValid())
        die(qPrintable(folder.error()));
    int records = 0;
    if (bench::readStatementInFull(folder.databasePath(),
                                   QStringLiteral("select * from contactsdb"), &records)
        < 0)
        die("cannot read the database");
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        die("cannot open the X display in DISPLAY");
    XSetErrorHandler(ignoreXErrors);

    Samples firstWindow;
    Samples mapped;
    Samples painted;
    std::vector<qint64> peaks;
    for (int i = 0; i < runs; ++i) {
        const Launch launch = launchOnce(display, folder);
        if (launch.firstWindowMs >= 0)
            firstWindow.add(launch.firstWindowMs);
        mapped.add(launch.mappedMs);
        painted.add(launch.paintedMs);
        peaks.push_back(launch.peakKiB);
    }
    print(records, "start-up: launch to first window mapped (splash)", firstWindow);
    print(records, "start-up: launch to main window mapped", mapped);
    print(records, "start-up: launch to first record painted (whole process)", painted);
    std::sort(peaks.begin(), peaks.end());
    std::printf("memory\t%d\treal process, main window showing its first record\t%lld\t-\n",
                records, peaks[peaks.size() / 2]);
    XCloseDisplay(display);
    return 0;
}
