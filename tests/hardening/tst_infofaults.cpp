// ProgramInfo.txt that is huge or not text at all is still shown whole, without a message,
// and left as it was.
#include <core/files/textdecoding.h>
#include <gui/dialogs/programinfowindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/testappfolder.h>

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>
#include <QTextDocument>

namespace {

const QString infoFile = QStringLiteral("Program Data/ProgramInfo.txt");
const QByteArray endMarker("\nThe last line.");

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray manyLines(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size + 100);
    for (int line = 0; bytes.size() < size; ++line)
        bytes += "Line " + QByteArray::number(line) + " of a very long program description.\r\n";
    return bytes;
}

} // namespace

class TestInfoFaults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void shownWholeWithoutMessage_data();
    void shownWholeWithoutMessage();
};

void TestInfoFaults::cleanup()
{
    if (ProgramInfoWindow *window = info::programInfoWindow())
        window->close();
    QTRY_VERIFY(!info::programInfoWindow());
}

void TestInfoFaults::shownWholeWithoutMessage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("binary") << randomBytes(256 * 1024, 20261208) + endMarker;
    QTest::newRow("NUL bytes") << QByteArray(64 * 1024, '\0') + endMarker;
    QTest::newRow("4 MB of lines") << manyLines(4 * 1024 * 1024) + endMarker;
    QTest::newRow("1 MB in one line") << QByteArray(1024 * 1024, 'x') + endMarker;
}

void TestInfoFaults::shownWholeWithoutMessage()
{
    QFETCH(QByteArray, bytes);
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, bytes));
    platform::ScriptedMessageBoxes boxes;

    ProgramInfoWindow *window = info::showProgramInfo();
    QVERIFY(window);
    QCOMPARE(boxes.count(), 0);
    auto *box = window->findChild<QPlainTextEdit *>(QStringLiteral("txtProgramInfo"));
    QVERIFY(box);
    // The raw text, so that no-break spaces from Latin-1 bytes are compared as they are.
    const QString shown
        = box->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    QString expected = files::decodeText(bytes);
    expected.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QCOMPARE(shown.size(), expected.size());
    QVERIFY(shown.endsWith(QString::fromLatin1(endMarker)));
    QVERIFY(folder.readFile(infoFile) == bytes); // QCOMPARE would print megabytes
}

QTEST_MAIN(TestInfoFaults)
#include "tst_infofaults.moc"
