#include <gui/dialogs/searchdialog.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>
#include <support/testappfolder.h>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTest>

namespace {

// last, first, nick, home phone, work phone
ContactValues person(int id, const QStringList &fields)
{
    ContactValues values = makeContact(QString::number(id), fields.value(0), fields.value(1));
    values[fieldIndex(ContactField::NickName)] = fields.value(2);
    values[fieldIndex(ContactField::HomePhone)] = fields.value(3);
    values[fieldIndex(ContactField::WorkPhone)] = fields.value(4);
    return values;
}

QString storedLastName(const QString &path, int id)
{
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadOnly))
        return QStringLiteral("<cannot open>");
    sqlite::Statement select(
        db, QStringLiteral("select lastname from contactsdb where contactid = %1").arg(id));
    return select.step() == sqlite::Statement::Step::Row ? select.columnText(0) : QString();
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void walk_data();
    void walk();
    void secondSearchFindsContactBeforeStart();
    void descriptions_data();
    void descriptions();
    void dialogStateAfterNoMatchAndReopening();
    void failedCommitStopsTheWalk();
};

void TestSearch::walk_data()
{
    QTest::addColumn<QList<QStringList>>("contacts"); // in contact id order
    QTest::addColumn<QString>("sortType");
    QTest::addColumn<int>("startRow");  // -1: after the last record
    QTest::addColumn<QString>("typed"); // typed into the chosen field first, unsaved
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("criterion");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("currentLast"); // shown by the main window afterwards

    const QList<QStringList> people{
        {"Adams", "Ann", "Annie", "555 1000", "555-2000"},
        {"SMITH", "Élodie", "", "5551234", "555 3000"},
        {"Straße", "Bo", "Bee", "555 4000", ""},
        {"Zed", "Cy", "", "555 5000", "555-6000"},
    };
    QTest::newRow("lower case finds capitals") << people << "lastname" << 0 << ""
                                               << "optLast"
                                               << "smith"
                                               << "Match"
                                               << "SMITH";
    QTest::newRow("é finds É") << people << "lastname" << 0 << ""
                               << "optFirst"
                               << "élodie"
                               << "Match"
                               << "SMITH";
    QTest::newRow("ß stays ß, so SS differs") << people << "lastname" << 0 << ""
                                              << "optLast"
                                              << "STRASSE"
                                              << "No Match"
                                              << "Adams";
    QTest::newRow("ß matches ß") << people << "lastname" << 0 << ""
                                 << "optLast"
                                 << "straße"
                                 << "Match"
                                 << "Straße";
    QTest::newRow("no partial match") << people << "lastname" << 0 << ""
                                      << "optLast"
                                      << "Smi"
                                      << "No Match"
                                      << "Adams";
    QTest::newRow("leading blank") << people << "lastname" << 0 << ""
                                   << "optLast"
                                   << " Smith"
                                   << "No Match"
                                   << "Adams";
    QTest::newRow("hyphenated phone") << people << "lastname" << 0 << ""
                                      << "optHome"
                                      << "555-1234"
                                      << "No Match"
                                      << "Adams";
    QTest::newRow("home phone") << people << "lastname" << 0 << ""
                                << "optHome"
                                << "5551234"
                                << "Match"
                                << "SMITH";
    QTest::newRow("work phone") << people << "lastname" << 0 << ""
                                << "optWork"
                                << "555-6000"
                                << "Match"
                                << "Zed";
    QTest::newRow("nick name") << people << "lastname" << 0 << ""
                               << "optNick"
                               << "BEE"
                               << "Match"
                               << "Straße";
    QTest::newRow("empty criterion finds an empty field") << people << "lastname" << 0 << ""
                                                          << "optNick"
                                                          << ""
                                                          << "Match"
                                                          << "SMITH";
    QTest::newRow("empty criterion, every field filled") << people << "lastname" << 0 << ""
                                                         << "optLast"
                                                         << ""
                                                         << "No Match"
                                                         << "Adams";
    QTest::newRow("current record matches") << people << "lastname" << 2 << ""
                                            << "optLast"
                                            << "STRAßE"
                                            << "Match"
                                            << "Straße";
    QTest::newRow("target before the current record") << people << "lastname" << 2 << ""
                                                      << "optLast"
                                                      << "adams"
                                                      << "No Match"
                                                      << "Adams";
    QTest::newRow("search from after the last record") << people << "lastname" << -1 << ""
                                                       << "optLast"
                                                       << "zed"
                                                       << "No Match"
                                                       << "Adams";
    QTest::newRow("empty table") << QList<QStringList>{} << "lastname" << 0 << ""
                                 << "optLast"
                                 << ""
                                 << "No Match"
                                 << "";
    const QList<QStringList> twins{
        {"Smith", "Zoe", "", "1", ""}, {"Adams", "Al", "", "2", ""}, {"Smith", "Amy", "", "3", ""}};
    QTest::newRow("same name, by id") << twins << "contactid" << 0 << ""
                                      << "optLast"
                                      << "smith"
                                      << "Match"
                                      << "Smith";
    QTest::newRow("unsaved text compared first") << people << "lastname" << 0 << "Typed"
                                                 << "optLast"
                                                 << "typed"
                                                 << "Match"
                                                 << "Typed";
    QTest::newRow("unsaved text, then walk on") << people << "lastname" << 0 << "Typed"
                                                << "optLast"
                                                << "zed"
                                                << "Match"
                                                << "Zed";
}

void TestSearch::walk()
{
    QFETCH(QList<QStringList>, contacts);
    QFETCH(QString, sortType);
    QFETCH(int, startRow);
    QFETCH(QString, typed);
    QFETCH(QString, option);
    QFETCH(QString, criterion);
    QFETCH(QString, message);
    QFETCH(QString, currentLast);

    TestAppFolder folder;
    QList<ContactValues> rows;
    for (int i = 0; i < contacts.size(); ++i)
        rows << person(i + 1, contacts[i]);
    QVERIFY(folder.createDatabase(rows));
    QVERIFY(folder.writeFile("Program Data/settings.ini",
                             "[settings]\r\nsorttype=" + sortType.toUtf8() + "\r\n"));
    platform::ScriptedMessageBoxes boxes;
    MainWindow window;
    QVERIFY(window.load());
    ContactStore &store = window.dbData1();
    if (startRow < 0) {
        while (!store.isEOF())
            QVERIFY(store.moveNext());
    } else if (store.recordCount() > 0) {
        QVERIFY(store.moveTo(startRow));
    }
    const int firstRowBefore = store.currentRow();
    if (!typed.isEmpty()) {
        auto *lastName = qobject_cast<QLineEdit *>(window.fieldWidget(ContactField::LastName));
        lastName->setText(typed);
    }

    QPointer<SearchDialog> dialog
        = new SearchDialog(window.dbData1(), window.storeFailureReporter());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    dialog->findChild<QRadioButton *>(option)->click();
    dialog->findChild<QLineEdit *>("txtSearch")->setText(criterion);
    dialog->search();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, message);
    QCOMPARE(boxes.last().title, QStringLiteral("Pelmora"));
    QCOMPARE(boxes.last().icon, platform::MessageIcon::None);
    QCOMPARE(window.fieldText(ContactField::LastName), currentLast);
    if (message == "Match") {
        QTRY_VERIFY(!dialog);
        // The grid marks the record the fields show (typed text there is not stored yet).
        if (typed != currentLast)
            QCOMPARE(store.value(store.currentRow(), ContactField::LastName), currentLast);
    } else {
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(store.currentRow(), store.recordCount() > 0 ? 0 : -1);
    }
    if (!typed.isEmpty()) {
        // Compared as typed; stored only when the walk moved on.
        const bool moved = currentLast != typed;
        QCOMPARE(storedLastName(folder.databasePath(), firstRowBefore + 1),
                 moved ? typed : contacts[firstRowBefore].first());
    }
    delete dialog;
}

void TestSearch::secondSearchFindsContactBeforeStart()
{
    TestAppFolder folder;
    QVERIFY(
        folder.createDatabase({person(1, {"Adams"}), person(2, {"Baker"}), person(3, {"Carter"})}));
    platform::ScriptedMessageBoxes boxes;
    MainWindow window;
    QVERIFY(window.load());
    QVERIFY(window.dbData1().moveTo(2));
    SearchDialog dialog(window.dbData1(), window.storeFailureReporter());
    dialog.findChild<QLineEdit *>("txtSearch")->setText("baker");
    dialog.search();
    QCOMPARE(boxes.last().text, QStringLiteral("No Match"));
    dialog.search();
    QCOMPARE(boxes.last().text, QStringLiteral("Match"));
    QCOMPARE(window.fieldText(ContactField::LastName), QStringLiteral("Baker"));
}

void TestSearch::descriptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("description");
    QTest::newRow("optLast") << "optLast" << SearchDialog::description(ContactField::LastName);
    QTest::newRow("optFirst") << "optFirst" << SearchDialog::description(ContactField::FirstName);
    QTest::newRow("optNick") << "optNick" << SearchDialog::description(ContactField::NickName);
    QTest::newRow("optHome") << "optHome" << SearchDialog::description(ContactField::HomePhone);
    QTest::newRow("optWork") << "optWork" << SearchDialog::description(ContactField::WorkPhone);
}

void TestSearch::descriptions()
{
    QFETCH(QString, option);
    QFETCH(QString, description);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase());
    MainWindow window;
    QVERIFY(window.load());
    SearchDialog dialog(window.dbData1(), window.storeFailureReporter());
    dialog.show();
    auto *label = dialog.findChild<QLabel *>("lblDescription");
    QCOMPARE(label->text(),
             QStringLiteral("Select a Search Type and enter your Criteria and click 'Search'."));
    QVERIFY(dialog.findChild<QRadioButton *>("optLast")->isChecked());
    dialog.findChild<QRadioButton *>(option)->click();
    QVERIFY(description.startsWith(QStringLiteral("This will search the database for the ")));
    QCOMPARE(label->text(), description);
    QTRY_COMPARE(QApplication::focusWidget(), dialog.findChild<QLineEdit *>("txtSearch"));
}

void TestSearch::dialogStateAfterNoMatchAndReopening()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({person(1, {"Adams", "Ann", "", "", "1-2"})}));
    platform::ScriptedMessageBoxes boxes;
    MainWindow window;
    QVERIFY(window.load());
    QPointer<SearchDialog> dialog
        = new SearchDialog(window.dbData1(), window.storeFailureReporter());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    dialog->findChild<QRadioButton *>("optWork")->click();
    dialog->findChild<QLineEdit *>("txtSearch")->setText("9-9");
    dialog->search();
    QCOMPARE(boxes.last().text, QStringLiteral("No Match"));
    QCOMPARE(dialog->findChild<QLineEdit *>("txtSearch")->text(), QStringLiteral("9-9"));
    QVERIFY(dialog->findChild<QRadioButton *>("optWork")->isChecked());
    dialog->findChild<QLineEdit *>("txtSearch")->setText("1-2");
    dialog->search();
    QCOMPARE(boxes.last().text, QStringLiteral("Match"));
    QTRY_VERIFY(!dialog); // unloaded
    SearchDialog reopened(window.dbData1(), window.storeFailureReporter());
    QCOMPARE(reopened.findChild<QLineEdit *>("txtSearch")->text(), QString());
    QVERIFY(reopened.findChild<QRadioButton *>("optLast")->isChecked());
}

void TestSearch::failedCommitStopsTheWalk()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({person(1, {"Adams"}), person(2, {"Baker"})}));
    platform::ScriptedMessageBoxes boxes;
    MainWindow window;
    QVERIFY(window.load());
    window.dbData1().setBusyTimeout(50);
    auto *lastName = qobject_cast<QLineEdit *>(window.fieldWidget(ContactField::LastName));
    lastName->setText("Typed");
    sqlite::Connection locker;
    QVERIFY(locker.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
    QVERIFY(locker.exec("BEGIN EXCLUSIVE"));
    SearchDialog dialog(window.dbData1(), window.storeFailureReporter());
    dialog.findChild<QLineEdit *>("txtSearch")->setText("baker");
    dialog.search();
    QCOMPARE(boxes.count(), 1);
    QVERIFY(boxes.last().text.contains(folder.databasePath()));
    QVERIFY(boxes.last().text.contains("locked"));
    QCOMPARE(window.dbData1().currentRow(), 0);
    QCOMPARE(window.fieldText(ContactField::LastName), QStringLiteral("Typed"));
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
