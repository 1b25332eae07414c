// The main window's load handler over broken settings: the contacts still open, in the
// default order unless the file says otherwise by the usual rules, and a message comes only
// when the file cannot be read at all, naming the file and the reason.
#include <support/dbquery.h>

#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/testappfolder.h>

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray hugeLines(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size + 64);
    while (bytes.size() < size)
        bytes += "sorttypes=firstname\r\n[settingsx]\r\nsorttype =contactid\r\n";
    return bytes;
}

QStringList lastNamesInOrder(MainWindow &window)
{
    QStringList names;
    for (int row = 0; row < window.dbData1().recordCount(); ++row)
        names << window.dbData1().value(row, ContactField::LastName);
    return names;
}

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT

private slots:
    void loadWithBrokenSettings_data();
    void loadWithBrokenSettings();
};

void TestSettingsFaults::loadWithBrokenSettings_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("settings"); // the content of settings.ini, if it is a file
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QString>("reason"); // a pattern the message matches; empty: no message

    const QStringList byLast{"Baker", "Carter", "Dunn"};
    const QStringList byFirst{"Dunn", "Carter", "Baker"};
    const QStringList byId{"Carter", "Baker", "Dunn"};
    const QByteArray firstname("[settings]\r\nsorttype=firstname\r\n");
    const QByteArray binary = randomBytes(256 * 1024, 20261208);

    QTest::newRow("Program Data missing")
        << "no data dir" << QByteArray() << byLast
        << "(No such file or directory|folder .*Program Data does not exist)";
    QTest::newRow("settings.ini a folder")
        << "folder" << QByteArray() << byLast << "the path is a folder";
    QTest::newRow("binary") << "file" << binary << byLast << "";
    QTest::newRow("binary, then the key") << "file" << binary + "\r\n" + firstname << byFirst << "";
    QTest::newRow("NUL bytes everywhere")
        << "file" << QByteArray(64 * 1024, '\0') + "\r\n" + firstname << byFirst << "";
    QTest::newRow("NUL after the value")
        << "file" << QByteArray("[settings]\r\nsorttype=firstname\0\r\n", 33) << byLast << "";
    QTest::newRow("invalid UTF-8 value")
        << "file" << QByteArray("[settings]\r\nsorttype=firstnam\xe9\r\n") << byLast << "";
    QTest::newRow("huge, one line without an end")
        << "file" << QByteArray(24 * 1024 * 1024, 's') << byLast << "";
    QTest::newRow("huge, near misses only")
        << "file" << QByteArray("[settings]\r\n") + hugeLines(24 * 1024 * 1024) << byLast << "";
    QTest::newRow("huge, the key at the end")
        << "file" << hugeLines(24 * 1024 * 1024) + "[settings]\rsorttype=contactid" << byId << "";
    QTest::newRow("huge value") << "file"
                                << QByteArray("[settings]\nsorttype=")
                                       + QByteArray(24 * 1024 * 1024, 'f')
                                << byLast << "";
}

void TestSettingsFaults::loadWithBrokenSettings()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, order);
    QFETCH(QString, reason);

    TestAppFolder folder;
    QVERIFY(
        folder.createDatabase({makeContact("10", "Dunn", "Al"), makeContact("2", "Baker", "Zoe"),
                               makeContact("1", "Carter", "Bo")}));
    const QString settingsPath = folder.file(QStringLiteral("Program Data/settings.ini"));
    if (fault == "no data dir")
        QVERIFY(QDir(folder.dataDir()).removeRecursively());
    else if (fault == "folder")
        QVERIFY(QDir().mkpath(settingsPath));
    else
        QVERIFY(folder.writeFile(QStringLiteral("Program Data/settings.ini"), settings));
    const QByteArray databaseBefore = fileBytes(folder.databasePath());

    platform::ScriptedMessageBoxes boxes;
    {
        MainWindow window;
        QVERIFY(window.load());
        QCOMPARE(lastNamesInOrder(window), order);
        QVERIFY(window.close());
    }

    if (reason.isEmpty()) {
        QCOMPARE(boxes.count(), 0);
    } else {
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().text.contains(settingsPath), qPrintable(boxes.last().text));
        QVERIFY2(boxes.last().text.contains(QRegularExpression(reason)),
                 qPrintable(boxes.last().text));
    }
    QCOMPARE(fileBytes(folder.databasePath()), databaseBefore);
    if (fault == "no data dir") {
        QVERIFY(!QFileInfo::exists(folder.dataDir())); // nothing created in its place
    } else if (fault == "folder") {
        QVERIFY(QFileInfo(settingsPath).isDir());
    } else {
        QVERIFY(fileBytes(settingsPath) == settings); // QCOMPARE would print 24 MB
    }
}

QTEST_MAIN(TestSettingsFaults)
#include "tst_settingsfaults.moc"
