// The real program, driven as a user drives it: started from its own application folder on
// a virtual X display, stepped with the keyboard and the mouse, typed into and closed with
// its close box; then the database file must hold exactly what was typed.
#include "x11close.h"
#include "xvfbdisplay.h"

#include "integrity.h"
#include <support/dbquery.h>

#include <support/testappfolder.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

const QString mainCaption = QStringLiteral("Pelmora - Contacts Listing");
const QByteArray settingsIni("[settings]\r\nsorttype=lastname\r\n");
const QByteArray markerIni("[settings]\r\ninstalled=1\r\n");

// Positions inside the main window's client area, in pixels (15 twips each).
const QPoint previousRecordButton(4 * 92 + 46, 27); // the fifth toolbar button, 1380 twips wide
const QPoint nextRecordButton(5 * 92 + 46, 27);
const QPoint cityField(464 + 100, 288 + 13); // txtCity at 6960, 4320 twips

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    XvfbDisplay m_x;
    QByteArray m_display;

    XvfbDisplay::Run xdotool(const QStringList &arguments) const { return m_x.xdotool(arguments); }
    QStringList visibleWindows(const QString &name) const { return m_x.visibleWindows(name); }
    bool click(const QString &window, QPoint at) const
    {
        return xdotool({"mousemove", "--window", window, QString::number(at.x()),
                        QString::number(at.y()), "click", "1"})
                   .exitCode
               == 0;
    }
    // Starts a copy of the program in the folder on three contacts; true once its main
    // window is shown and has the input focus.
    bool startProgram(TestAppFolder &folder, QProcess &pelmora, QString &window);
    // Closes the main window with its close box; true when the program ended cleanly.
    bool closeProgram(QProcess &pelmora, const QString &window);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stepTypeAndClose();
    void endOfRecordsSurvivesFocusChange();
};

void TestEndToEnd::initTestCase()
{
    if (const QString tool = XvfbDisplay::missingTool(); !tool.isEmpty())
        QSKIP(
            qPrintable(tool + QStringLiteral(" is not installed (scripts/setup.sh installs it)")));
    QVERIFY2(m_x.start(), "no Xvfb display accepted a client");
    m_display = m_x.name();
    qInfo("Xvfb on display %s", m_display.constData());
}

void TestEndToEnd::cleanupTestCase()
{
    m_x.stop();
}

bool TestEndToEnd::startProgram(TestAppFolder &folder, QProcess &pelmora, QString &window)
{
    if (!folder.createDatabase({makeContact("1", "Adams", "Ann"), makeContact("2", "Baker", "Bob"),
                                makeContact("3", "Carter", "Cy")})
        || !folder.writeFile(QStringLiteral("Program Data/settings.ini"), settingsIni)
        || !folder.writeFile(QStringLiteral("Program Data/crystl32.ini"), markerIni))
        return false;
    // The program finds its files beside its executable: a copy of it lives in the folder.
    const QString program = folder.file(QStringLiteral("pelmora"));
    if (!QFile::copy(QStringLiteral(PELMORA_PATH), program))
        return false;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    pelmora.setProcessEnvironment(environment);
    pelmora.setProcessChannelMode(QProcess::MergedChannels);
    pelmora.setWorkingDirectory(QDir::tempPath()); // never the application folder
    pelmora.start(program, {});
    if (!pelmora.waitForStarted()) {
        qWarning("%s", qPrintable(pelmora.errorString()));
        return false;
    }
    QStringList windows;
    QDeadlineTimer deadline(30000);
    while (
        (windows = visibleWindows(QLatin1Char('^') + mainCaption + QLatin1Char('$'))).isEmpty()) {
        if (deadline.hasExpired() || pelmora.state() != QProcess::Running) {
            qWarning("no main window; windows: %s; output: %s",
                     qPrintable(visibleWindows(QStringLiteral(".")).join(QLatin1Char(' '))),
                     pelmora.readAll().constData());
            return false;
        }
        QTest::qWait(100);
    }
    window = windows.last();
    return xdotool({"windowfocus", "--sync", window}).exitCode == 0;
}

bool TestEndToEnd::closeProgram(QProcess &pelmora, const QString &window)
{
    if (!sendCloseBoxClick(m_display, window.toULong()) || !pelmora.waitForFinished(30000)) {
        qWarning("the program did not end: %s", pelmora.readAll().constData());
        return false;
    }
    return pelmora.exitStatus() == QProcess::NormalExit && pelmora.exitCode() == 0;
}

void TestEndToEnd::stepTypeAndClose()
{
    TestAppFolder folder;
    QProcess pelmora;
    QString window;
    QVERIFY(startProgram(folder, pelmora, window));

    // Alt+N is the access key of "&Next Record": Adams -> Baker.
    QCOMPARE(xdotool({"key", "--clearmodifiers", "alt+n"}).exitCode, 0);
    // The button itself: Baker -> Carter.
    QCOMPARE(xdotool({"mousemove", "--window", window, QString::number(nextRecordButton.x()),
                      QString::number(nextRecordButton.y()), "click", "1"})
                 .exitCode,
             0);
    QCOMPARE(xdotool({"mousemove", "--window", window, QString::number(cityField.x()),
                      QString::number(cityField.y()), "click", "1"})
                 .exitCode,
             0);
    QCOMPARE(xdotool({"type", "--delay", "10", "Lyon <O'Hara> & Co"}).exitCode, 0);
    QVERIFY(closeProgram(pelmora, window));

    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select lastname || '/' || City from contactsdb "
                                        "order by contactid")),
             (QStringList{"Adams/", "Baker/", "Carter/Lyon <O'Hara> & Co"}));
    QCOMPARE(folder.readFile(QStringLiteral("Program Data/settings.ini")), settingsIni);
    QCOMPARE(folder.readFile(QStringLiteral("Program Data/crystl32.ini")), markerIni);
}

void TestEndToEnd::endOfRecordsSurvivesFocusChange()
{
    TestAppFolder folder;
    QProcess pelmora;
    QString window;
    QVERIFY(startProgram(folder, pelmora, window));

    // Three steps: Adams -> Baker -> Carter -> past the end, where no record is current.
    // Clicks, not access keys: a key sent right after the focus arrives may come before the
    // window counts as active, and then it is no shortcut.
    for (int step = 0; step < 3; ++step)
        QVERIFY(click(window, nextRecordButton));
    // The user turns to another program and comes back: the position must not move. The
    // pointer leaves the window first, or X says the focus went to the pointer's window. Qt
    // waits a moment before it counts a window as left, in case the focus comes straight
    // back: the pause lets the window be deactivated.
    QCOMPARE(xdotool({"mousemove", "0", "0"}).exitCode, 0);
    QVERIFY(moveInputFocusToRoot(m_display));
    QTest::qWait(1000);
    QCOMPARE(xdotool({"windowfocus", "--sync", window}).exitCode, 0);
    // Previous from past the end reaches the last record; had the window gone back to the
    // first record, Previous would reach the position before it and the City go nowhere.
    QVERIFY(click(window, previousRecordButton));
    QVERIFY(click(window, cityField));
    QCOMPARE(xdotool({"type", "--delay", "10", "Oslo"}).exitCode, 0);
    QVERIFY(closeProgram(pelmora, window));

    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select lastname || '/' || City from contactsdb "
                                        "order by contactid")),
             (QStringList{"Adams/", "Baker/", "Carter/Oslo"}));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
