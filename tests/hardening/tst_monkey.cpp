// The sanitizer build of the real program under random keys and clicks for a few minutes:
// any crash, any sanitizer report and any damage to the database fails. The seed is
// printed; PELMORA_MONKEY_SEED repeats a run, PELMORA_MONKEY_SECONDS sets its length.
#include "integrity.h"
#include "x11close.h"
#include "xvfbdisplay.h"

#include <support/testappfolder.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString mainCaption = QStringLiteral("^Pelmora - Contacts Listing$");

// Letters fill the fields; the rest moves, edits, answers message boxes and, with Alt, takes
// the toolbar's access keys (Add, Save or Search, Delete, Previous or Reports, Next, Sort,
// About; Exit is drawn apart).
const QStringList otherKeys
    = {"Tab",    "shift+Tab", "Return", "Escape", "Up",     "Down",   "Left",  "Right",
       "ctrl+v", "ctrl+c",    "ctrl+x", "ctrl+z", "ctrl+v", "alt+a",  "alt+s", "alt+d",
       "alt+p",  "alt+n",     "alt+o",  "alt+b",  "Return", "Escape", "Tab",   "space"};

// Right after a start nothing has been copied: the X clipboard has no owner, a state that
// the first copy ends for the rest of the run. So each run begins by pasting across the
// fields of the main window.
const QStringList openingKeys = {"Tab", "shift+Tab", "ctrl+v", "ctrl+v"};
constexpr int openingActions = 12;

const QRegularExpression
    sanitizerReport(QStringLiteral("ERROR: \\w+Sanitizer|SUMMARY: \\w+Sanitizer|runtime error:"));

quint32 seedFromEnvironment()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("PELMORA_MONKEY_SEED").toUInt(&ok);
    return ok ? seed : QRandomGenerator::global()->generate();
}

} // namespace

class TestMonkey : public QObject
{
    Q_OBJECT

private:
    XvfbDisplay m_x;
    QRandomGenerator m_random;
    QStringList m_recent;          // the last actions, told when something goes wrong
    QHash<QString, QSize> m_sizes; // of the program's windows, which keep their size

    // Sends one random key or click to a window of the program; false when it has none
    // on screen.
    bool act(qint64 pid, const QString &mainWindow, bool opening);
    QSize windowSize(const QString &window);
    // Asks the program to end as a user would; false when it would not.
    bool closeProgram(QProcess &pelmora);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void randomKeysAndClicks();
};

void TestMonkey::initTestCase()
{
    if (const QString tool = XvfbDisplay::missingTool(); !tool.isEmpty())
        QSKIP(
            qPrintable(tool + QStringLiteral(" is not installed (scripts/setup.sh installs it)")));
    QVERIFY2(m_x.start(), "no Xvfb display accepted a client");
}

void TestMonkey::cleanupTestCase()
{
    m_x.stop();
}

QSize TestMonkey::windowSize(const QString &window)
{
    if (const auto known = m_sizes.constFind(window); known != m_sizes.cend())
        return *known;
    QSize size;
    const XvfbDisplay::Run geometry
        = m_x.xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QByteArray &line : geometry.output.split('\n')) {
        if (line.startsWith("WIDTH="))
            size.setWidth(line.mid(6).toInt());
        else if (line.startsWith("HEIGHT="))
            size.setHeight(line.mid(7).toInt());
    }
    if (geometry.exitCode == 0)
        m_sizes.insert(window, size);
    return size;
}

bool TestMonkey::act(qint64 pid, const QString &mainWindow, bool opening)
{
    // Bottom to top: the newest window, a message box above all, is the last.
    const QStringList windows
        = QString::fromLatin1(
              m_x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid)})
                  .output)
              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (windows.isEmpty())
        return false;

    QString action;
    QString window = windows.last();
    const int roll = m_random.bounded(100);
    if (opening) {
        action = openingKeys.at(m_random.bounded(openingKeys.size()));
        window = mainWindow;
    } else if (roll < 40) {
        action = QString(QChar(u'a' + m_random.bounded(26)));
    } else if (roll < 73) {
        action = otherKeys.at(m_random.bounded(otherKeys.size()));
    } else if (roll < 75) {
        action = QStringLiteral("alt+e");
        window = mainWindow;
    } else {
        action
            = QStringLiteral("click %1 %2").arg(m_random.bounded(1000)).arg(m_random.bounded(1000));
    }
    // Now and then the main window, so that the monkey gets back to it from the others.
    if (m_random.bounded(4) == 0)
        window = mainWindow;
    if (!windows.contains(window))
        window = windows.last();
    m_recent << action + QLatin1Char('@') + window;
    if (m_recent.size() > 30)
        m_recent.removeFirst();

    // There is no window manager: the focus falls to the root window whenever a window
    // closes, and keys would go astray. Give it to the chosen window as a user would.
    QStringList command = {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window};
    if (action.startsWith(QLatin1String("click "))) {
        const QStringList permille = action.split(QLatin1Char(' '));
        const QSize size = windowSize(window);
        command << QStringLiteral("mousemove") << QStringLiteral("--window") << window
                << QString::number(permille.at(1).toInt() * size.width() / 1000)
                << QString::number(permille.at(2).toInt() * size.height() / 1000)
                << QStringLiteral("click") << QStringLiteral("1");
    } else {
        command << QStringLiteral("key") << QStringLiteral("--clearmodifiers") << action;
    }
    m_x.xdotool(command);
    return true;
}

bool TestMonkey::closeProgram(QProcess &pelmora)
{
    // Message boxes may stand in the way (save the record? delete it?): the close box of
    // every window, then Escape, then Return, until the program has ended.
    const QStringList keys = {QStringLiteral("Escape"), QStringLiteral("Return")};
    for (int round = 0; round < 12 && pelmora.state() != QProcess::NotRunning; ++round) {
        const XvfbDisplay::Run windows
            = m_x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pelmora.processId())});
        for (const QByteArray &window : windows.output.split('\n')) {
            if (!window.trimmed().isEmpty())
                sendCloseBoxClick(m_x.name(), window.trimmed().toULong());
        }
        if (pelmora.waitForFinished(2500))
            break;
        m_x.xdotool({QStringLiteral("key"), keys.at(round % 2)});
        pelmora.waitForFinished(2500);
    }
    return pelmora.state() == QProcess::NotRunning;
}

void TestMonkey::randomKeysAndClicks()
{
    const quint32 seed = seedFromEnvironment();
    const int seconds = qEnvironmentVariableIsSet("PELMORA_MONKEY_SECONDS")
                            ? qEnvironmentVariableIntValue("PELMORA_MONKEY_SECONDS")
                            : 150;
    m_random.seed(seed);
    qInfo("seed %u for %d s; repeat with PELMORA_MONKEY_SEED=%u PELMORA_MONKEY_SECONDS=%d", seed,
          seconds, seed, seconds);

    TestAppFolder folder;
    QTemporaryDir home; // where export and print dialogs suggest to write
    QVERIFY(folder.isValid() && home.isValid());
    QVERIFY(folder.createDemoDatabase(40, seed));
    QVERIFY(folder.writeFile(QStringLiteral("Program Data/settings.ini"),
                             "[settings]\r\nsorttype=lastname\r\n"));
    QVERIFY(folder.writeFile(QStringLiteral("Program Data/crystl32.ini"),
                             "[settings]\r\ninstalled=1\r\n"));
    const QString program = folder.file(QStringLiteral("pelmora"));
    QVERIFY(QFile::copy(QStringLiteral(PELMORA_PATH), program));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_x.name()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), home.path());
    if (!environment.contains(QStringLiteral("LSAN_OPTIONS")))
        environment.insert(QStringLiteral("LSAN_OPTIONS"),
                           QStringLiteral("suppressions=" LSAN_SUPPRESSIONS));

    const QDeadlineTimer deadline(seconds * 1000);
    QElapsedTimer clock;
    clock.start();
    int runs = 0;
    int actions = 0;
    while (!deadline.hasExpired()) {
        QProcess pelmora;
        pelmora.setProcessEnvironment(environment);
        pelmora.setProcessChannelMode(QProcess::MergedChannels);
        pelmora.setWorkingDirectory(home.path());
        pelmora.start(program, {});
        QVERIFY2(pelmora.waitForStarted(), qPrintable(pelmora.errorString()));
        ++runs;
        QByteArray output;
        auto diagnose = [&] {
            output += pelmora.readAll();
            return QStringLiteral("seed %1, run %2, action %3 after %4 s, last actions: %5\n"
                                  "output:\n%6")
                .arg(seed)
                .arg(runs)
                .arg(actions)
                .arg(clock.elapsed() / 1000)
                .arg(m_recent.join(QLatin1Char(' ')), QString::fromLocal8Bit(output));
        };
        // Not QTRY_VERIFY: it searches once more after the window was found, and a search
        // while windows come and go can come back empty (a start failed that way).
        QString mainWindow;
        for (const QDeadlineTimer shown(60000);
             mainWindow.isEmpty() && !shown.hasExpired() && pelmora.state() != QProcess::NotRunning;
             pelmora.waitForFinished(100)) {
            mainWindow = m_x.visibleWindows(mainCaption).value(0);
        }
        QVERIFY2(!mainWindow.isEmpty() || pelmora.state() == QProcess::NotRunning,
                 qPrintable(QStringLiteral("no main window; ") + diagnose()));
        m_sizes.clear(); // a new program may be given the window ids of the last one

        // Ending takes a moment, the leak check above all; a program that goes on without
        // any window on screen could never be ended by its user.
        QElapsedTimer windowless;
        for (int done = 0; !deadline.hasExpired() && pelmora.state() != QProcess::NotRunning;
             ++done) {
            if (act(pelmora.processId(), mainWindow, done < openingActions)) {
                windowless.invalidate();
                ++actions;
            } else if (!windowless.isValid()) {
                windowless.start();
            } else {
                QVERIFY2(
                    !windowless.hasExpired(30000),
                    qPrintable(QStringLiteral("runs with no window on screen; ") + diagnose()));
                pelmora.waitForFinished(100);
            }
            output += pelmora.readAll();
        }
        if (pelmora.state() != QProcess::NotRunning)
            QVERIFY2(closeProgram(pelmora),
                     qPrintable(QStringLiteral("would not close; ") + diagnose()));
        pelmora.waitForFinished();
        QVERIFY2(pelmora.exitStatus() == QProcess::NormalExit && pelmora.exitCode() == 0,
                 qPrintable(QStringLiteral("ended with %1 %2; ")
                                .arg(pelmora.exitStatus() == QProcess::CrashExit
                                         ? QStringLiteral("signal")
                                         : QStringLiteral("exit code"))
                                .arg(pelmora.exitCode())
                            + diagnose()));
        QVERIFY2(
            !sanitizerReport.match(QString::fromLocal8Bit(output + pelmora.readAll())).hasMatch(),
            qPrintable(diagnose()));
        QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
    }
    qInfo("%d actions over %d runs of the program", actions, runs);
    // Exit never reached the program in a minute or more: keys go astray.
    if (seconds >= 60)
        QVERIFY2(runs > 1, "the program was never ended by its Exit command");
}

QTEST_GUILESS_MAIN(TestMonkey)
#include "tst_monkey.moc"
