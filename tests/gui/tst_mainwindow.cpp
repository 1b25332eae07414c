#include <support/commands.h>
#include <support/dbquery.h>

#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/programexit.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/recordingterminator.h>
#include <support/testappfolder.h>

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaEnum>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

using platform::MessageAnswer;

namespace {

// A window whose close handler must not run when the program ends at once.
class WatchedWindow final : public QWidget
{
public:
    bool closeHandlerRan = false;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        closeHandlerRan = true;
        QWidget::closeEvent(event);
    }
};

const QString dbName = QStringLiteral("cntdb.mdb");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestAppFolder> m_folder;
    std::unique_ptr<platform::ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<RecordingTerminator> m_terminator;
    std::unique_ptr<MainWindow> m_window;

    bool openWindow(const QList<ContactValues> &contacts)
    {
        if (!m_folder->createDatabase(contacts))
            return false;
        m_window = std::make_unique<MainWindow>();
        if (!m_window->load())
            return false;
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get());
    }
    QList<ContactValues> abc() const
    {
        return {makeContact("1", "Adams", "Ann"), makeContact("2", "Baker", "Bob"),
                makeContact("3", "Carter", "Cy")};
    }
    QString shown(ContactField field) const { return m_window->fieldText(field); }
    QLineEdit *line(ContactField field) const
    {
        return qobject_cast<QLineEdit *>(m_window->fieldWidget(field));
    }
    QTableView *grid() const { return m_window->findChild<QTableView *>("DBGrid1"); }
    QStringList stored(const QString &sql) const
    {
        return queryColumn(m_folder->databasePath(), sql);
    }

private slots:
    void init();
    void cleanup();
    void controlsAndTabOrder();
    void gridFollowsTheCurrentRecord();
    void gridChoiceCommitsAndShowsRecord();
    void stepping_data();
    void stepping();
    void deleteQuestion_data();
    void deleteQuestion();
    void deleteAnswers_data();
    void deleteAnswers();
    void deleteWithoutRecord_data();
    void deleteWithoutRecord();
    void deletePendingNewRecord_data();
    void deletePendingNewRecord();
    void saveStoresAndShowsFirstRecord();
    void addGivesFreshIds_data();
    void addGivesFreshIds();
    void exitStoresEditAndEnds();
    void exitWhenCommitFails_data();
    void exitWhenCommitFails();
    void buttonsOpenTheirWindows_data();
    void buttonsOpenTheirWindows();
    void missingDatabaseIsNotCreated();
    void unreadableSettingsGiveDefaultOrder();
    void noLengthLimit();
    void statusBarIndicators();
    void textChangesWithoutKeysAreSaved_data();
    void textChangesWithoutKeysAreSaved();
    void refillsWriteNothing();
    void positionMovesOnlyByChoice_data();
    void positionMovesOnlyByChoice();
    void gridKeys_data();
    void gridKeys();
    void choosingARowStoresThePendingContact();
    void hiddenCommandsInTheOverflowMenu();
    void droppedFilesAreOfferedForImport_data();
    void droppedFilesAreOfferedForImport();
};

void TestMainWindow::init()
{
    m_folder = std::make_unique<TestAppFolder>();
    m_boxes = std::make_unique<platform::ScriptedMessageBoxes>();
    m_terminator = std::make_unique<RecordingTerminator>();
    platform::setProgramTerminator(m_terminator.get());
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    platform::setProgramTerminator(nullptr);
    m_terminator.reset();
    m_boxes.reset();
    m_folder.reset();
}

void TestMainWindow::controlsAndTabOrder()
{
    QVERIFY(openWindow(abc()));
    const QRect client = m_window->rect();
    QStringList names{"Toolbar1", "DBGrid1", "StatusBar1"};
    for (int i = 0; i < contactFieldCount; ++i)
        names << fieldControlName(fieldAt(i));
    for (const QString &name : names) {
        auto *widget = m_window->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        const QRect area(widget->mapTo(m_window.get(), QPoint(0, 0)), widget->size());
        QVERIFY2(client.contains(area), qPrintable(name));
        QVERIFY2(!widget->accessibleName().isEmpty() || name == "Toolbar1" || name == "StatusBar1",
                 qPrintable(name));
    }
    // Each field has its label as buddy, with the field's caption.
    int buddies = 0;
    for (QLabel *label : m_window->findChildren<QLabel *>()) {
        if (label->buddy()) {
            ++buddies;
            QCOMPARE(label->text(), label->buddy()->accessibleName());
        }
    }
    QCOMPARE(buddies, contactFieldCount);
    // The grid holds the focus, the fields follow in table order.
    QTRY_COMPARE(QApplication::focusWidget(), grid());
    QWidget *previous = grid();
    for (int i = 0; i < contactFieldCount; ++i) {
        QWidget *next = previous->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !next->isVisible())
            next = next->nextInFocusChain();
        QCOMPARE(next->objectName(), fieldControlName(fieldAt(i)));
        previous = next;
    }
    QVERIFY(line(ContactField::ContactId)->isReadOnly());
}

void TestMainWindow::gridFollowsTheCurrentRecord()
{
    QVERIFY(openWindow(abc()));
    QCOMPARE(grid()->currentIndex().row(), 0);
    QCOMPARE(grid()->model()->headerData(0, Qt::Vertical).toString().isEmpty(), false);
    runCommand(*m_window, "Next");
    QCOMPARE(grid()->currentIndex().row(), 1);
    QCOMPARE(grid()->model()->headerData(0, Qt::Vertical).toString(), QString());
    QVERIFY(!grid()->model()->headerData(1, Qt::Vertical).toString().isEmpty());
    QCOMPARE(shown(ContactField::LastName), QStringLiteral("Baker"));
}

void TestMainWindow::gridChoiceCommitsAndShowsRecord()
{
    QVERIFY(openWindow(abc()));
    line(ContactField::FirstName)->setFocus();
    line(ContactField::FirstName)->selectAll();
    QTest::keyClicks(line(ContactField::FirstName), "Annie");
    grid()->setCurrentIndex(grid()->model()->index(2, 1));
    QCOMPARE(shown(ContactField::LastName), QStringLiteral("Carter"));
    QCOMPARE(stored("select firstname from contactsdb where contactid = 1"), QStringList{"Annie"});
    QCOMPARE(grid()->model()->index(0, 1).data().toString(), QStringLiteral("Annie"));
}

void TestMainWindow::stepping_data()
{
    QTest::addColumn<int>("contacts");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("titles"); // the boxes shown, in order
    QTest::addColumn<QString>("lastName");   // shown at the end
    const QString end = "End of Database Records";
    const QString begin = "Beginning of Database Records";
    QTest::newRow("next from last: silent, then message")
        << 3 << 2 << QStringList{"Next"} << QStringList{} << "";
    QTest::newRow("second next past the end")
        << 3 << 2 << QStringList{"Next", "Next"} << QStringList{end} << "";
    QTest::newRow("previous after the end shows the last")
        << 3 << 2 << QStringList{"Next", "Next", "Previous"} << QStringList{end} << "Carter";
    QTest::newRow("previous from first: silent, then message")
        << 3 << 0 << QStringList{"Previous", "Previous"} << QStringList{begin} << "";
    QTest::newRow("empty store, next") << 0 << 0 << QStringList{"Next"} << QStringList{end} << "";
    QTest::newRow("empty store, previous")
        << 0 << 0 << QStringList{"Previous"} << QStringList{begin} << "";
    QTest::newRow("walk forward") << 3 << 0 << QStringList{"Next", "Next"} << QStringList{}
                                  << "Carter";
}

void TestMainWindow::stepping()
{
    QFETCH(int, contacts);
    QFETCH(int, startRow);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, titles);
    QFETCH(QString, lastName);
    QVERIFY(openWindow(abc().mid(0, contacts)));
    if (contacts > 0)
        QVERIFY(m_window->dbData1().moveTo(startRow));
    for (const QString &key : keys)
        runCommand(*m_window, key);
    QStringList seen;
    for (const platform::MessageRequest &box : m_boxes->shown()) {
        seen << box.title;
        QCOMPARE(box.icon, platform::MessageIcon::Critical);
        QCOMPARE(box.buttons, platform::MessageButtons::Ok);
        QVERIFY(box.text.contains(QLatin1String("records.  Please move")));
    }
    QCOMPARE(seen, titles);
    QCOMPARE(shown(ContactField::LastName), lastName);
}

void TestMainWindow::deleteQuestion_data()
{
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("question");
    QTest::newRow("names") << "Smith"
                           << "Ann"
                           << "Are you sure you would like to delete this record: Smith, Ann?";
    QTest::newRow("empty names") << ""
                                 << ""
                                 << "Are you sure you would like to delete this record: , ?";
    QTest::newRow("markup shown as typed") << "<b>Bold</b>"
                                           << "&amp;"
                                           << "Are you sure you would like to delete this "
                                              "record: <b>Bold</b>, &amp;?";
}

void TestMainWindow::deleteQuestion()
{
    QFETCH(QString, last);
    QFETCH(QString, first);
    QFETCH(QString, question);
    QVERIFY(openWindow({makeContact("1", last, first)}));
    m_boxes->queueAnswer(MessageAnswer::No);
    runCommand(*m_window, "Delete");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().title, QStringLiteral("Delete Contact Record?"));
    QCOMPARE(m_boxes->last().text, question);
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Critical);
    QCOMPARE(m_boxes->last().buttons, platform::MessageButtons::YesNo);
}

void TestMainWindow::deleteAnswers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QString>("shownAfter");
    QTest::newRow("no") << false << QStringList{"Adams", "Baker", "Carter"} << "Baker";
    QTest::newRow("yes") << true << QStringList{"Adams", "Carter"} << "Adams";
}

void TestMainWindow::deleteAnswers()
{
    QFETCH(bool, yes);
    QFETCH(QStringList, remaining);
    QFETCH(QString, shownAfter);
    QVERIFY(openWindow(abc()));
    runCommand(*m_window, "Next");
    m_boxes->queueAnswer(yes ? MessageAnswer::Yes : MessageAnswer::No);
    runCommand(*m_window, "Delete");
    QCOMPARE(stored("select lastname from contactsdb order by lastname"), remaining);
    QCOMPARE(shown(ContactField::LastName), shownAfter);
    QCOMPARE(m_window->dbData1().recordCount(), remaining.size());
    QCOMPARE(grid()->model()->rowCount(), remaining.size());
}

void TestMainWindow::deleteWithoutRecord_data()
{
    QTest::addColumn<int>("contacts");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty store") << 0 << "There are no more records to delete.";
    QTest::newRow("past the end") << 3 << "There is no current record to delete.";
}

void TestMainWindow::deleteWithoutRecord()
{
    QFETCH(int, contacts);
    QFETCH(QString, text);
    QVERIFY(openWindow(abc().mid(0, contacts)));
    if (contacts > 0) {
        QVERIFY(m_window->dbData1().moveTo(contacts - 1));
        runCommand(*m_window, "Next");
    }
    runCommand(*m_window, "Delete");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().title, QStringLiteral("Pelmora - Edit Contacts"));
    QCOMPARE(m_boxes->last().text, text);
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Information);
    QCOMPARE(stored("select count(*) from contactsdb"), QStringList{QString::number(contacts)});
}

void TestMainWindow::deletePendingNewRecord_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("no keeps it pending") << false;
    QTest::newRow("yes discards it") << true;
}

void TestMainWindow::deletePendingNewRecord()
{
    QFETCH(bool, yes);
    QVERIFY(openWindow(abc()));
    runCommand(*m_window, "Add");
    QTest::keyClicks(line(ContactField::LastName), "Newman");
    m_boxes->queueAnswer(yes ? MessageAnswer::Yes : MessageAnswer::No);
    runCommand(*m_window, "Delete");
    QCOMPARE(m_boxes->last().text,
             QStringLiteral("Are you sure you would like to delete this record: Newman, ?"));
    QCOMPARE(m_window->dbData1().hasPendingNew(), !yes);
    QCOMPARE(shown(ContactField::LastName),
             yes ? QStringLiteral("Adams") : QStringLiteral("Newman"));
    QCOMPARE(stored("select count(*) from contactsdb"), QStringList{"3"});
}

void TestMainWindow::saveStoresAndShowsFirstRecord()
{
    QVERIFY(openWindow(abc()));
    runCommand(*m_window, "Next");
    runCommand(*m_window, "Next");
    QTest::keyClicks(line(ContactField::City), "Lyon");
    runCommand(*m_window, "Save");
    QCOMPARE(shown(ContactField::LastName), QStringLiteral("Adams"));
    QCOMPARE(stored("select City from contactsdb where contactid = 3"), QStringList{"Lyon"});
    QCOMPARE(m_boxes->count(), 0);
}

void TestMainWindow::addGivesFreshIds_data()
{
    QTest::addColumn<int>("contacts");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("expectedIds"); // stored after two adds and a save
    QTest::newRow("empty store") << 0 << "" << QStringList{"1", "2"};
    QTest::newRow("ids 1..3") << 3 << "" << QStringList{"1", "2", "3", "4", "5"};
    QTest::newRow("after deleting id 2") << 3 << "delete" << QStringList{"1", "3", "4", "5"};
}

void TestMainWindow::addGivesFreshIds()
{
    QFETCH(int, contacts);
    QFETCH(QString, before);
    QFETCH(QStringList, expectedIds);
    QVERIFY(openWindow(abc().mid(0, contacts)));
    if (before == "delete") {
        runCommand(*m_window, "Next");
        runCommand(*m_window, "Delete"); // answered Yes
    }
    runCommand(*m_window, "Add");
    QCOMPARE(QApplication::focusWidget(), line(ContactField::LastName));
    QTest::keyClicks(line(ContactField::LastName), "First new");
    runCommand(*m_window, "Add");
    QTest::keyClicks(line(ContactField::LastName), "Second new");
    runCommand(*m_window, "Save");
    QCOMPARE(stored("select contactid from contactsdb order by contactid"), expectedIds);
}

void TestMainWindow::exitStoresEditAndEnds()
{
    QVERIFY(openWindow(abc()));
    WatchedWindow other;
    other.show();
    QTest::keyClicks(line(ContactField::Email1), "ann@example.org");
    runCommand(*m_window, "Exit");
    QCOMPARE(m_terminator->calls(), 1);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!other.closeHandlerRan);
    QCOMPARE(stored("select \"Email Address 1\" from contactsdb where contactid = 1"),
             QStringList{"ann@example.org"});
}

void TestMainWindow::exitWhenCommitFails_data()
{
    QTest::addColumn<bool>("closeAnyway");
    QTest::newRow("no keeps the window") << false;
    QTest::newRow("yes closes and ends") << true;
}

void TestMainWindow::exitWhenCommitFails()
{
    QFETCH(bool, closeAnyway);
    QVERIFY(openWindow(abc()));
    m_window->dbData1().setBusyTimeout(50);
    QTest::keyClicks(line(ContactField::Cell), "555");
    sqlite::Connection locker;
    QVERIFY(locker.open(m_folder->databasePath(), sqlite::Connection::Mode::ReadWrite));
    QVERIFY(locker.exec("BEGIN EXCLUSIVE"));
    m_boxes->queueAnswer(closeAnyway ? MessageAnswer::Yes : MessageAnswer::No);
    runCommand(*m_window, "Exit");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().buttons, platform::MessageButtons::YesNo);
    QVERIFY(m_boxes->last().text.contains(m_folder->databasePath()));
    QVERIFY(m_boxes->last().text.contains("locked"));
    QCOMPARE(m_terminator->calls(), closeAnyway ? 1 : 0);
    QCOMPARE(m_window->isVisible(), !closeAnyway);
    if (!closeAnyway)
        QCOMPARE(shown(ContactField::Cell), QStringLiteral("555"));
}

void TestMainWindow::buttonsOpenTheirWindows_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("window");
    QTest::newRow("Search") << "btnSearch"
                            << "Search";
    QTest::newRow("Sort") << "btnSort"
                          << "Sort";
    QTest::newRow("Reports") << "btnReports"
                             << "Reports";
    QTest::newRow("About") << "btnAbout"
                           << "About";
}

void TestMainWindow::buttonsOpenTheirWindows()
{
    QFETCH(QString, button);
    QFETCH(QString, window);
    QVERIFY(openWindow(abc()));
    QStringList opened;
    const QMetaEnum commands = QMetaEnum::fromType<MainWindow::Command>();
    for (const char *name : {"Search", "Sort", "Reports", "About"})
        m_window->setWindowOpener(MainWindow::Command(commands.keyToValue(name)),
                                  [&opened, name] { opened << name; });
    auto *tool = m_window->findChild<QToolButton *>(button);
    QVERIFY(tool);
    QTest::mouseClick(tool, Qt::LeftButton);
    QCOMPARE(opened, QStringList{window});
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(m_terminator->calls(), 0);
    QCOMPARE(m_window->dbData1().currentRow(), 0);
}

void TestMainWindow::missingDatabaseIsNotCreated()
{
    MainWindow window;
    QVERIFY(!window.load());
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(m_boxes->last().text.contains(m_folder->databasePath()));
    QVERIFY(m_boxes->last().text.contains("not found"));
    QVERIFY(!QFile::exists(m_folder->databasePath()));
}

void TestMainWindow::unreadableSettingsGiveDefaultOrder()
{
    QVERIFY(QDir(m_folder->dataDir()).mkdir("settings.ini"));
    QVERIFY(openWindow({makeContact("1", "Zed", "Amy"), makeContact("2", "Abel", "Zoe")}));
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(m_boxes->last().text.contains(m_folder->file("Program Data/settings.ini")));
    QCOMPARE(shown(ContactField::LastName), QStringLiteral("Abel"));
}

void TestMainWindow::noLengthLimit()
{
    QVERIFY(openWindow(abc()));
    const QString longText(40000, QLatin1Char('x'));
    line(ContactField::Address)->setFocus();
    line(ContactField::Address)->insert(longText);
    QCOMPARE(shown(ContactField::Address).size(), longText.size());
}

void TestMainWindow::statusBarIndicators()
{
    QVERIFY(openWindow(abc()));
    auto panel = [this](const char *name) {
        return m_window->findChild<QLabel *>(name);
    };
    QVERIFY(!panel("panelDate")->text().isEmpty());
    QVERIFY(!panel("panelTime")->text().isEmpty());
    // Off at start; the Insert key toggles the program's own insert mode.
    QVERIFY(!panel("panelIns")->isEnabled());
    line(ContactField::City)->setFocus();
    QTest::keyClick(line(ContactField::City), Qt::Key_Insert);
    QVERIFY(panel("panelIns")->isEnabled());
    QTest::keyClick(line(ContactField::City), Qt::Key_Insert);
    QVERIFY(!panel("panelIns")->isEnabled());
    // Without X11 the lock indicators cannot be read: dimmed.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        QVERIFY(!panel("panelCaps")->isEnabled());
        QVERIFY(!panel("panelNum")->isEnabled());
        QVERIFY(!panel("panelScrl")->isEnabled());
    }
}

void TestMainWindow::textChangesWithoutKeysAreSaved_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const int last = fieldIndex(ContactField::LastName);
    const int notes = fieldIndex(ContactField::Notes);
    for (int field : {last, notes}) {
        const QString before = field == last ? QStringLiteral("Adams") : QString();
        const char *name = field == last ? "line" : "notes";
        QTest::addRow("%s: accessible replace", name) << field << "replace"
                                                      << "Zed";
        QTest::addRow("%s: accessible insert", name) << field << "insert"
                                                     << "Zed" + before;
        QTest::addRow("%s: paste", name) << field << "paste"
                                         << "Zed";
        QTest::addRow("%s: input method", name) << field << "input method" << before + "Zed";
        QTest::addRow("%s: undo and redo", name) << field << "undo"
                                                 << "Zed";
    }
}

void TestMainWindow::textChangesWithoutKeysAreSaved()
{
    QFETCH(int, field);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QVERIFY(openWindow(abc()));
    QWidget *editor = m_window->fieldWidget(fieldAt(field));
    editor->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), editor);
    QAccessibleEditableTextInterface *text
        = QAccessible::queryAccessibleInterface(editor)->editableTextInterface();
    QVERIFY(text);
    const int length = m_window->fieldText(fieldAt(field)).size();
    if (path == "replace") {
        text->replaceText(0, length, QStringLiteral("Zed"));
    } else if (path == "insert") {
        text->insertText(0, QStringLiteral("Zed"));
    } else if (path == "paste") {
        QApplication::clipboard()->setText(QStringLiteral("Zed"));
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    } else if (path == "input method") {
        QTest::keyClick(editor, Qt::Key_End);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("Zed"));
        QApplication::sendEvent(editor, &commit);
    } else if (path == "undo") {
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("Zed"));
        // Undo marks the field as well: back to the stored text, then forward again.
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    }
    QCOMPARE(m_window->fieldText(fieldAt(field)), expected);
    runCommand(*m_window, "Next");
    QCOMPARE(stored(QStringLiteral("select %1 from contactsdb where contactid = 1")
                        .arg(quotedColumnName(fieldAt(field)))),
             QStringList{expected});
}

void TestMainWindow::refillsWriteNothing()
{
    // Showing a record is not an edit: with every write refused, stepping gives no message.
    QVERIFY(openWindow(abc()));
    QVERIFY(execOn(m_folder->databasePath(), "CREATE TRIGGER refuse BEFORE UPDATE ON contactsdb "
                                             "BEGIN SELECT RAISE(ABORT, 'read only'); END"));
    for (const char *key : {"Next", "Next", "Next", "Previous", "Previous", "Save"})
        runCommand(*m_window, key);
    QCOMPARE(m_boxes->shown().size(), 0);
}

void TestMainWindow::positionMovesOnlyByChoice_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("lastName"); // shown afterwards
    QTest::addColumn<int>("markedRow");
    const QStringList toEnd{"Next", "Next", "Next"};
    const QStringList toStart{"Previous"};
    QTest::newRow("end, grid focused") << toEnd << "grid focus"
                                       << "" << -1;
    QTest::newRow("end, window activated") << toEnd << "activation"
                                           << "" << -1;
    QTest::newRow("start, grid focused") << toStart << "grid focus"
                                         << "" << -1;
    QTest::newRow("start, window activated") << toStart << "activation"
                                             << "" << -1;
    QTest::newRow("after delete, previous")
        << QStringList{"Next", "Delete", "Previous"} << "activation"
        << "" << -1;
    QTest::newRow("after delete, next") << QStringList{"Next", "Delete", "Next"} << "activation"
                                        << "Carter" << 1;
}

void TestMainWindow::positionMovesOnlyByChoice()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, event);
    QFETCH(QString, lastName);
    QFETCH(int, markedRow);
    QVERIFY(openWindow(abc()));
    for (const QString &command : commands)
        runCommand(*m_window, command);
    if (event == "grid focus") {
        line(ContactField::City)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), line(ContactField::City));
        grid()->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), grid());
    } else {
        grid()->setFocus();
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!m_window->isActiveWindow());
        QApplication::setActiveWindow(m_window.get());
        QTRY_COMPARE(QApplication::focusWidget(), grid());
    }
    QCOMPARE(shown(ContactField::LastName), lastName);
    QCOMPARE(m_window->dbData1().markedRow(), markedRow);
    QCOMPARE(grid()->currentIndex().isValid() ? grid()->currentIndex().row() : -1, markedRow);
    QCOMPARE(grid()->selectionModel()->selectedRows().size(), markedRow < 0 ? 0 : 1);
    for (int row = 0; row < grid()->model()->rowCount(); ++row)
        QCOMPARE(!grid()->model()->headerData(row, Qt::Vertical).toString().isEmpty(),
                 row == markedRow);
}

void TestMainWindow::gridKeys_data()
{
    QTest::addColumn<QList<QKeyCombination>>("keys");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("lastName");
    using Keys = QList<QKeyCombination>;
    QTest::newRow("tab leaves the grid") << Keys{Qt::Key_Tab} << "txtContactID"
                                         << "Adams";
    QTest::newRow("tab twice") << Keys{Qt::Key_Tab, Qt::Key_Tab} << "txtLastName"
                               << "Adams";
    QTest::newRow("shift+tab leaves backwards")
        << Keys{Qt::ShiftModifier | Qt::Key_Backtab} << "txtNotes"
        << "Adams";
    QTest::newRow("down") << Keys{Qt::Key_Down} << "DBGrid1"
                          << "Baker";
    QTest::newRow("down, up") << Keys{Qt::Key_Down, Qt::Key_Up} << "DBGrid1"
                              << "Adams";
    QTest::newRow("ctrl+end") << Keys{Qt::ControlModifier | Qt::Key_End} << "DBGrid1"
                              << "Carter";
    QTest::newRow("page down") << Keys{Qt::Key_PageDown} << "DBGrid1"
                               << "Carter";
}

void TestMainWindow::gridKeys()
{
    QFETCH(QList<QKeyCombination>, keys);
    QFETCH(QString, focus);
    QFETCH(QString, lastName);
    QVERIFY(openWindow(abc()));
    QTRY_COMPARE(QApplication::focusWidget(), grid());
    for (QKeyCombination key : keys)
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(shown(ContactField::LastName), lastName);
}

void TestMainWindow::choosingARowStoresThePendingContact()
{
    QVERIFY(openWindow(abc()));
    runCommand(*m_window, "Add");
    // The old current row is no longer marked: the new contact is.
    QVERIFY(!grid()->currentIndex().isValid());
    QCOMPARE(grid()->model()->headerData(0, Qt::Vertical).toString(), QString());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Dunn"));
    const QRect adams = grid()->visualRect(grid()->model()->index(0, 0));
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, adams.center());
    QCOMPARE(stored("select lastname from contactsdb order by rowid"),
             (QStringList{"Adams", "Baker", "Carter", "Dunn"}));
    QCOMPARE(shown(ContactField::LastName), QStringLiteral("Adams"));
    QCOMPARE(grid()->currentIndex().row(), 0);
    QCOMPARE(m_boxes->shown().size(), 0);
}

void TestMainWindow::hiddenCommandsInTheOverflowMenu()
{
    QVERIFY(m_folder->createDatabase(abc()));
    m_window = std::make_unique<MainWindow>();
    QVERIFY(m_window->load());
    QStringList opened;
    const QMetaEnum commands = QMetaEnum::fromType<MainWindow::Command>();
    for (const char *name : {"Search", "Sort", "Reports", "About"})
        m_window->setWindowOpener(MainWindow::Command(commands.keyToValue(name)),
                                  [&opened, name] { opened << name; });
    m_window->resize(600, 400);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto *more = m_window->findChild<QToolButton *>("qt_toolbar_ext_button");
    QVERIFY(more);
    QTRY_VERIFY(more->isVisible());
    QStringList listed;
    // The menu runs its own loop: read and choose from it once it is up.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&listed, &poll] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        for (QAction *action : menu->actions())
            listed << action->text();
        menu->actions().constLast()->trigger();
        menu->close();
    });
    poll.start(10);
    QTest::mouseClick(more, Qt::LeftButton);
    QVERIFY(listed.contains("A&bout"));
    QVERIFY(listed.contains("&Search"));
    QVERIFY(!listed.contains("&Exit"));
    QCOMPARE(opened, QStringList{"About"});
}

void TestMainWindow::droppedFilesAreOfferedForImport_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("offered"); // N of "Import N contacts"
    QTest::addColumn<int>("answer");  // MessageAnswer to the question
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("summary"); // the box after the import, if any
    const QByteArray cards = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dunn;Al;;;\r\nFN:Al Dunn\r\n"
                             "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Ames;Bo;;;\r\n"
                             "FN:Bo Ames\r\nEND:VCARD\r\n";
    const QStringList abcNames{"Adams", "Baker", "Carter"};
    QTest::newRow("vCard, yes") << "two.vcf" << cards << 2 << int(MessageAnswer::Yes)
                                << abcNames + QStringList{"Dunn", "Ames"} << QString();
    QTest::newRow("vCard, no") << "two.vcf" << cards << 2 << int(MessageAnswer::No) << abcNames
                               << QString();
    QTest::newRow("vCards named .txt") << "two.txt" << cards << 2 << int(MessageAnswer::Yes)
                                       << abcNames + QStringList{"Dunn", "Ames"} << QString();
    // The reason names the file's own character set: its escape is written out.
    const QByteArray skipped = cards.left(cards.indexOf("BEGIN:VCARD", 1))
                               + "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=x\x1b[2J;ENCODING="
                                 "QUOTED-PRINTABLE:Ames\r\nEND:VCARD\r\n";
    QTest::newRow("a skip, its reason escaped")
        << "two.vcf" << skipped << 1 << int(MessageAnswer::Yes) << abcNames + QStringList{"Dunn"}
        << "1 contacts were imported; these were skipped:\n\n"
           "two.vcf, line 6: unknown character set \"x\\x1b[2J\" on line 8";
}

void TestMainWindow::droppedFilesAreOfferedForImport()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(int, offered);
    QFETCH(int, answer);
    QFETCH(QStringList, expected);
    QFETCH(QString, summary);
    QVERIFY(openWindow(abc()));
    QVERIFY(m_folder->writeFile(file, content));
    const QString path = m_folder->file(file);
    m_boxes->queueAnswer(MessageAnswer(answer));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint inside = m_window->rect().center();
    QDragEnterEvent enter(inside, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(inside), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &drop);

    QTRY_COMPARE(m_boxes->count(), summary.isEmpty() ? 1 : 2);
    const platform::MessageRequest question = m_boxes->shown().first();
    QCOMPARE(question.text, QStringLiteral("Import %1 contacts from %2?")
                                .arg(offered)
                                .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(question.buttons, platform::MessageButtons::YesNo);
    if (!summary.isEmpty())
        QCOMPARE(m_boxes->last().text, summary);
    QCOMPARE(stored("select lastname from contactsdb order by rowid"), expected);
    QCOMPARE(grid()->model()->rowCount(), expected.size());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
