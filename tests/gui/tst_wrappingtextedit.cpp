// Pasting into the multi-line text box: what is on the clipboard, or nothing at all.
#include <gui/platform/wrappingtextedit.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include <functional>

namespace {

using MimeFactory = std::function<QMimeData *()>;

// Opens the box's drop and paste handlers to the test.
class Box : public platform::WrappingTextEdit
{
public:
    using platform::WrappingTextEdit::canInsertFromMimeData;
    using platform::WrappingTextEdit::insertFromMimeData;
};

} // namespace

Q_DECLARE_METATYPE(MimeFactory)

class TestWrappingTextEdit : public QObject
{
    Q_OBJECT

private slots:
    void pasteFromClipboard_data();
    void pasteFromClipboard();
    void nullSourceIsIgnored();
};

void TestWrappingTextEdit::pasteFromClipboard_data()
{
    QTest::addColumn<MimeFactory>("clipboard");
    QTest::addColumn<QString>("expected");

    // An X clipboard without an owner hands out data with no formats at all.
    QTest::newRow("no formats") << MimeFactory([] { return new QMimeData; }) << "keep";
    QTest::newRow("empty text") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setText(QString());
        return data;
    }) << "keep";
    QTest::newRow("text format without data") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setData(QStringLiteral("text/plain"), QByteArray());
        return data;
    }) << "keep";
    QTest::newRow("no text among the formats") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setData(QStringLiteral("application/octet-stream"), "\x01\x02");
        return data;
    }) << "keep";
    QTest::newRow("text") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setText(QStringLiteral("pasted"));
        return data;
    }) << "pasted";
}

void TestWrappingTextEdit::pasteFromClipboard()
{
    QFETCH(MimeFactory, clipboard);
    QFETCH(QString, expected);

    Box box;
    box.showText(QStringLiteral("keep"));
    box.selectAll();
    QGuiApplication::clipboard()->setMimeData(clipboard());
    QVERIFY(QGuiApplication::clipboard()->mimeData());
    QCOMPARE(box.canInsertFromMimeData(QGuiApplication::clipboard()->mimeData()),
             expected != QLatin1String("keep"));
    box.paste();
    QCOMPARE(box.toPlainText(), expected);
}

void TestWrappingTextEdit::nullSourceIsIgnored()
{
    Box box;
    box.showText(QStringLiteral("keep"));
    box.selectAll();
    QVERIFY(!box.canInsertFromMimeData(nullptr));
    box.insertFromMimeData(nullptr);
    QCOMPARE(box.toPlainText(), QStringLiteral("keep"));
}

QTEST_MAIN(TestWrappingTextEdit)
#include "tst_wrappingtextedit.moc"
