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
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString mainCaption = QStringLiteral("^Pelmora - Contacts Listing$");

// Letters fill the fields; the rest moves, edits, answers message boxes and, with Alt, takes
// the toolbar's access keys (Exit, Add, Save or Search, Delete, Previous or Reports, Next,
// Sort, About).
const QStringList otherKeys
    = {"Tab",    "shift+Tab", "Return", "Escape", "Up",     "Down",   "Left",  "Right",
       "ctrl+v", "ctrl+c",    "ctrl+x", "ctrl+z", "ctrl+v", "alt+a",  "alt+s", "alt+d",
       "alt+p",  "alt+n",     "alt+o",  "alt+b",  "Return", "Escape", "Tab",   "space"};

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
    QStringList m_recent; // the last actions, told when something goes wrong

    QString randomAction();
    // The window that has the keyboard focus, once one of the program's windows has it.
    QString focusedWindow(qint64 pid);
    void act(const QString &action, qint64 pid);
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

QString TestMonkey::randomAction()
{
    const int roll = m_random.bounded(100);
    if (roll < 40)
        return QString(QChar(u'a' + m_random.bounded(26)));
    if (roll < 75)
        return otherKeys.at(m_random.bounded(otherKeys.size()));
    if (roll < 76)
        return QStringLiteral("alt+e"); // rare, or the program mostly starts up
    return QStringLiteral("click %1 %2").arg(m_random.bounded(1000)).arg(m_random.bounded(1000));
}

QString TestMonkey::focusedWindow(qint64 pid)
{
    const QStringList windows
        = QString::fromLatin1(
              m_x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid)})
                  .output)
              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const XvfbDisplay::Run focus = m_x.xdotool({QStringLiteral("getwindowfocus")});
    const QString focused = QString::fromLatin1(focus.output.trimmed());
    if (focus.exitCode == 0 && windows.contains(focused))
        return focused;
    // Without a window manager the focus goes to the root window when a box closes; as a
    // window manager would, give it to the program's newest window.
    if (windows.isEmpty())
        return {};
    m_x.xdotool({QStringLiteral("windowfocus"), windows.last()});
    return windows.last();
}

void TestMonkey::act(const QString &action, qint64 pid)
{
    m_recent << action;
    if (m_recent.size() > 30)
        m_recent.removeFirst();
    const QString window = focusedWindow(pid);
    if (!action.startsWith(QLatin1String("click "))) {
        m_x.xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), action});
        return;
    }
    if (window.isEmpty())
        return;
    // A click lands in the window that has the focus, at a point scaled to its size.
    const XvfbDisplay::Run geometry
        = m_x.xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    int width = 0;
    int height = 0;
    for (const QByteArray &line : geometry.output.split('\n')) {
        if (line.startsWith("WIDTH="))
            width = line.mid(6).toInt();
        else if (line.startsWith("HEIGHT="))
            height = line.mid(7).toInt();
    }
    const QStringList permille = action.split(QLatin1Char(' '));
    m_x.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                 QString::number(permille.at(1).toInt() * width / 1000),
                 QString::number(permille.at(2).toInt() * height / 1000), QStringLiteral("click"),
                 QStringLiteral("1")});
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
            return QStringLiteral("seed %1, run %2, last actions: %3\noutput:\n%4")
                .arg(seed)
                .arg(runs)
                .arg(m_recent.join(QLatin1Char(' ')), QString::fromLocal8Bit(output));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(!m_x.visibleWindows(mainCaption).isEmpty()
                                      || pelmora.state() == QProcess::NotRunning,
                                  qPrintable(diagnose()), 60000);

        while (!deadline.hasExpired() && pelmora.state() != QProcess::NotRunning) {
            act(randomAction(), pelmora.processId());
            ++actions;
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
}

QTEST_GUILESS_MAIN(TestMonkey)
#include "tst_monkey.moc"
