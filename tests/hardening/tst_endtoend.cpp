// The real program, driven as a user drives it: started from its own application folder on
// a virtual X display, stepped with the keyboard and the mouse, typed into and closed with
// its close box; then the database file must hold exactly what was typed.
#include "x11close.h"
#include "xvfbdisplay.h"

#include "../contacts/dbquery.h"
#include "integrity.h"

#include <support/testappfolder.h>

#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

const QString mainCaption = QStringLiteral("Pelmora - Contacts Listing");

// Positions inside the main window's client area, in pixels (15 twips each).
const QPoint nextRecordButton(5 * 92 + 46, 27); // the sixth toolbar button, 1380 twips wide
const QPoint cityField(464 + 100, 288 + 13);    // txtCity at 6960, 4320 twips

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    XvfbDisplay m_x;

    XvfbDisplay::Run xdotool(const QStringList &arguments) const { return m_x.xdotool(arguments); }
    QStringList visibleWindows(const QString &name) const { return m_x.visibleWindows(name); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stepTypeAndClose();
};

void TestEndToEnd::initTestCase()
{
    if (const QString tool = XvfbDisplay::missingTool(); !tool.isEmpty())
        QSKIP(
            qPrintable(tool + QStringLiteral(" is not installed (scripts/setup.sh installs it)")));
    QVERIFY2(m_x.start(), "no Xvfb display accepted a client");
    qInfo("Xvfb on display %s", m_x.name().constData());
}

void TestEndToEnd::cleanupTestCase()
{
    m_x.stop();
}

void TestEndToEnd::stepTypeAndClose()
{
    TestAppFolder folder;
    QVERIFY(
        folder.createDatabase({makeContact("1", "Adams", "Ann"), makeContact("2", "Baker", "Bob"),
                               makeContact("3", "Carter", "Cy")}));
    const QByteArray settings("[settings]\r\nsorttype=lastname\r\n");
    const QByteArray marker("[settings]\r\ninstalled=1\r\n");
    QVERIFY(folder.writeFile(QStringLiteral("Program Data/settings.ini"), settings));
    QVERIFY(folder.writeFile(QStringLiteral("Program Data/crystl32.ini"), marker));
    // The program finds its files beside its executable: a copy of it lives in the folder.
    const QString program = folder.file(QStringLiteral("pelmora"));
    QVERIFY(QFile::copy(QStringLiteral(PELMORA_PATH), program));

    QProcess pelmora;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_x.name()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    pelmora.setProcessEnvironment(environment);
    pelmora.setProcessChannelMode(QProcess::MergedChannels);
    pelmora.setWorkingDirectory(QDir::tempPath()); // never the application folder
    pelmora.start(program, {});
    QVERIFY2(pelmora.waitForStarted(), qPrintable(pelmora.errorString()));
    QByteArray output;
    auto diagnose = [&] {
        output += pelmora.readAll();
        return QStringLiteral("windows: %1; output: %2")
            .arg(visibleWindows(QStringLiteral(".")).join(QLatin1Char(' ')),
                 QString::fromLocal8Bit(output));
    };

    QStringList windows;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(windows = visibleWindows(QLatin1Char('^') + mainCaption + QLatin1Char('$'))).isEmpty(),
        qPrintable(diagnose()), 30000);
    const QString window = windows.last();

    QCOMPARE(xdotool({"windowfocus", "--sync", window}).exitCode, 0);
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

    QVERIFY(sendCloseBoxClick(m_x.name(), window.toULong()));
    QVERIFY2(pelmora.waitForFinished(30000), qPrintable(diagnose()));
    QCOMPARE(pelmora.exitStatus(), QProcess::NormalExit);
    QVERIFY2(pelmora.exitCode() == 0, qPrintable(diagnose()));

    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select lastname || '/' || City from contactsdb "
                                        "order by contactid")),
             (QStringList{"Adams/", "Baker/", "Carter/Lyon <O'Hara> & Co"}));
    QCOMPARE(folder.readFile(QStringLiteral("Program Data/settings.ini")), settings);
    QCOMPARE(folder.readFile(QStringLiteral("Program Data/crystl32.ini")), marker);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
