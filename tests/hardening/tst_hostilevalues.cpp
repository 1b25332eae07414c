// Whatever the user types is stored and shown exactly: quotes, backslashes, SQL text,
// markup, right-to-left and emoji text and very long notes, in every field, through the
// main window's text fields, the database file and the message boxes.
#include <support/commands.h>
#include <support/dbquery.h>

#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/testappfolder.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

// About 1 MB of notes in many lines, every kind of text in it.
QString megabyteOfNotes()
{
    const QString line
        = QString::fromUtf8("Line %1: O'Brien \"quoted\" C:\\path\\ <i>markup</i> "
                            "'); DELETE FROM contactsdb; -- שלום مرحبا 😀👍🏽\n");
    QString notes;
    for (int i = 0; notes.size() < 1024 * 1024; ++i)
        notes += line.arg(i);
    return notes;
}

// Puts text into a field as the user's editing would: replacing what it showed, with the
// field's edit signal.
void enter(QWidget *field, const QString &text, bool byKeys)
{
    field->setFocus();
    if (auto *notes = qobject_cast<QPlainTextEdit *>(field)) {
        notes->selectAll();
        if (byKeys)
            QTest::keyClicks(notes, text);
        else
            notes->insertPlainText(text);
        return;
    }
    auto *line = qobject_cast<QLineEdit *>(field);
    line->selectAll();
    if (byKeys)
        QTest::keyClicks(line, text);
    else
        line->insert(text);
}

QString storedValue(const QString &path, ContactField field)
{
    const QStringList values = queryColumn(
        path, QStringLiteral("select %1 from contactsdb").arg(quotedColumnName(field)));
    return values.size() == 1 ? values.first() : QStringLiteral("<%1 rows>").arg(values.size());
}

} // namespace

class TestHostileValues : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void pastedNoteWithoutBlanks();
    void defaultBoxShowsTypedNamesAsText();
};

void TestHostileValues::roundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("byKeys");
    QTest::newRow("quotes, typed") << "O'Brien \"Bud\" '' \"\"" << true;
    QTest::newRow("backslashes") << "C:\\new\\table\\ \\\\ \\'" << false;
    QTest::newRow("sql text") << "x'); DROP TABLE contactsdb; -- ' OR 1=1 --" << false;
    QTest::newRow("html tags") << "<b>bold</b> <script>alert(1)</script> &amp; &lt;br&gt; <br>"
                               << false;
    QTest::newRow("right-to-left")
        << QString::fromUtf8("שלום עולם مرحبا بالعالم \u200f(1)\u200e 123") << false;
    QTest::newRow("emoji") << QString::fromUtf8(
        "😀 👍🏽 👨‍👩‍👧 🇫🇷 \U0001F9D1\u200D\U0001F4BB")
                           << false;
    QTest::newRow("no-break and line separators")
        << QString::fromUtf8("a\u00a0b\u202fc\u2028d") << false;
    QTest::newRow("percent signs and placeholders") << "%1 %2 %s %n {0} $1" << false;
}

void TestHostileValues::roundTrip()
{
    QFETCH(QString, value);
    QFETCH(bool, byKeys);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Plain", "Jane")}));
    platform::ScriptedMessageBoxes boxes;
    const QString notes = megabyteOfNotes();

    {
        MainWindow window;
        QVERIFY(window.load());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Every field the user can type into; the id is the program's.
        for (int i = 1; i < contactFieldCount; ++i) {
            const bool isNotes = fieldAt(i) == ContactField::Notes;
            enter(window.fieldWidget(fieldAt(i)), isNotes ? value + notes : value,
                  byKeys && !isNotes);
        }
        for (int i = 1; i < contactFieldCount; ++i) {
            const bool isNotes = fieldAt(i) == ContactField::Notes;
            QVERIFY2(window.fieldText(fieldAt(i)) == (isNotes ? value + notes : value),
                     qPrintable(fieldCaption(fieldAt(i))));
        }

        // The delete question names the contact as typed.
        boxes.queueAnswer(platform::MessageAnswer::No);
        runCommand(window, QStringLiteral("Delete"));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text,
                 QStringLiteral("Are you sure you would like to delete this record: ") + value
                     + QStringLiteral(", ") + value + QStringLiteral("?"));

        runCommand(window, QStringLiteral("Next"));
        QCOMPARE(boxes.count(), 1); // stored without complaint
        QCOMPARE(window.dbData1().value(0, ContactField::LastName), value);
        auto *grid = window.findChild<QTableView *>(QStringLiteral("DBGrid1"));
        QCOMPARE(grid->model()->index(0, 0).data().toString(), value);
        QCOMPARE(grid->model()->index(0, 1).data().toString(), value);
    }

    // In the file exactly as typed.
    for (int i = 1; i < contactFieldCount; ++i) {
        const bool isNotes = fieldAt(i) == ContactField::Notes;
        const QString stored = storedValue(folder.databasePath(), fieldAt(i));
        QVERIFY2(
            stored == (isNotes ? value + notes : value),
            qPrintable(QStringLiteral("%1: %2").arg(fieldCaption(fieldAt(i)), stored.left(200))));
    }
    QCOMPARE(storedValue(folder.databasePath(), ContactField::ContactId), QStringLiteral("1"));

    // And shown exactly by the next window; leaving it unchanged writes nothing.
    const QByteArray before = fileBytes(folder.databasePath());
    {
        MainWindow window;
        QVERIFY(window.load());
        for (int i = 1; i < contactFieldCount; ++i) {
            const bool isNotes = fieldAt(i) == ContactField::Notes;
            QVERIFY2(window.fieldText(fieldAt(i)) == (isNotes ? value + notes : value),
                     qPrintable(fieldCaption(fieldAt(i))));
        }
        runCommand(window, QStringLiteral("Next"));
        QVERIFY(window.close());
    }
    QVERIFY(fileBytes(folder.databasePath()) == before);
    QCOMPARE(boxes.count(), 1);
}

// A megabyte without a single blank (a pasted key or picture as text) is stored and shown
// again like any note. The box would lay such a line out for minutes if it wrapped at
// words, so this test also times out if that comes back.
void TestHostileValues::pastedNoteWithoutBlanks()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Plain", "Jane")}));
    platform::ScriptedMessageBoxes boxes;
    QString note = QStringLiteral("Key: ");
    for (int i = 0; note.size() < 1024 * 1024; ++i)
        note += QString::number(i, 36);
    {
        MainWindow window;
        QVERIFY(window.load());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *notes = qobject_cast<QPlainTextEdit *>(window.fieldWidget(ContactField::Notes));
        notes->setFocus();
        QApplication::clipboard()->setText(note);
        notes->paste();
        QCOMPARE(window.fieldText(ContactField::Notes), note);
        runCommand(window, QStringLiteral("Next"));
    }
    QVERIFY(storedValue(folder.databasePath(), ContactField::Notes) == note);
    MainWindow window;
    QVERIFY(window.load());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.fieldText(ContactField::Notes) == note);
    QCOMPARE(boxes.count(), 0);
}

void TestHostileValues::defaultBoxShowsTypedNamesAsText()
{
    const QString last = QStringLiteral("<b>Bold</b>  &amp; <img src=x>");
    const QString first = QString::fromUtf8("مرحبا 😀");
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", last, first)}));
    MainWindow window;
    QVERIFY(window.load());

    // No scripted boxes: the program's own QMessageBox, answered No when it shows.
    QString shownText;
    Qt::TextFormat format = Qt::AutoText;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.stop();
        shownText = box->text();
        format = box->textFormat();
        box->button(QMessageBox::No)->click();
    });
    answer.start();
    runCommand(window, QStringLiteral("Delete"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shownText, QStringLiteral("Are you sure you would like to delete this record: ") + last
                            + QStringLiteral(", ") + first + QStringLiteral("?"));
    QCOMPARE(queryColumn(folder.databasePath(), QStringLiteral("select count(*) from contactsdb")),
             QStringList{"1"});
}

QTEST_MAIN(TestHostileValues)
#include "tst_hostilevalues.moc"
