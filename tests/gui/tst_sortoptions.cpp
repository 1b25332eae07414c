#include <support/childprocess.h>
#include <support/testappfolder.h>

#include <core/settings/settingsfiles.h>
#include <gui/dialogs/sortoptionsdialog.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <gui/platform/twips.h>
#include <gui/platform/windowslot.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>

using platform::MessageIcon;

namespace {

const QString settingsFile = QStringLiteral("Program Data/settings.ini");
const QString savedText = QStringLiteral(
    "Your Sort Type has been Saved. This setting will be updated when you restart the program.");
const QByteArray oldBytes = "[settings]\r\nsorttype=firstname\r\n";

template<typename T>
T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

QString description(QWidget *window)
{
    return child<QLabel>(window, "lblDescription")->text();
}

QByteArray expectedFile(const char *word)
{
    return QByteArray("[settings]\r\nsorttype=") + word + "\r\n";
}

} // namespace

class TestSortOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void savesExactlyTwoLines_data();
    void savesExactlyTwoLines();
    void secondSaveReplacesFirst();
    void optionShowsItsDescription_data();
    void optionShowsItsDescription();
    void closeSavesNothing();
    void everyLoadStartsAtLastName();
    void windowAndKeyboard();
    void failureKeepsOldFile_data();
    void failureKeepsOldFile();
    void failureInChildKeepsOldFile_data();
    void failureInChildKeepsOldFile();
};

void TestSortOptions::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(SORTOPTIONS_CHILD)));
}

void TestSortOptions::savesExactlyTwoLines_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("before"); // null: no settings.ini yet
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("Last Name, no file") << "optLast" << QByteArray() << expectedFile("lastname");
    QTest::newRow("First Name, no file") << "optFirst" << QByteArray() << expectedFile("firstname");
    QTest::newRow("Contact ID, no file") << "optId" << QByteArray() << expectedFile("contactid");
    QTest::newRow("over a longer file with other keys")
        << "optId" << QByteArray("[settings]\r\nsorttype=lastname\r\nother=1\r\n[more]\r\nx=y\r\n")
        << expectedFile("contactid");
    QTest::newRow("over an empty file")
        << "optFirst" << QByteArray("") << expectedFile("firstname");
}

void TestSortOptions::savesExactlyTwoLines()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);

    TestAppFolder folder;
    if (!before.isNull())
        QVERIFY(folder.writeFile(settingsFile, before));
    platform::ScriptedMessageBoxes boxes;
    SortOptionsDialog dialog;
    dialog.findChild<QRadioButton *>(option)->click();
    child<QPushButton>(&dialog, "cmdSave")->click();

    QCOMPARE(folder.readFile(settingsFile), expected);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Sort Type"));
    QCOMPARE(boxes.last().text, savedText);
    QCOMPARE(boxes.last().icon, MessageIcon::Information);
    QCOMPARE(boxes.last().buttons, platform::MessageButtons::Ok);
    // No temporary file is left beside it.
    QCOMPARE(QDir(folder.dataDir()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("settings.ini")});
    // The dialog stays open with the user's choice.
    QVERIFY(dialog.findChild<QRadioButton *>(option)->isChecked());
}

void TestSortOptions::secondSaveReplacesFirst()
{
    TestAppFolder folder;
    platform::ScriptedMessageBoxes boxes;
    SortOptionsDialog dialog;
    child<QRadioButton>(&dialog, "optId")->click();
    child<QPushButton>(&dialog, "cmdSave")->click();
    QCOMPARE(folder.readFile(settingsFile), expectedFile("contactid"));
    child<QRadioButton>(&dialog, "optFirst")->click();
    child<QPushButton>(&dialog, "cmdSave")->click();

    QCOMPARE(folder.readFile(settingsFile), expectedFile("firstname"));
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.shown().at(1).text, savedText);
}

void TestSortOptions::optionShowsItsDescription_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("expected");

    const QString last = SortOptionsDialog::description(settings::SortType::LastName);
    const QString first = SortOptionsDialog::description(settings::SortType::FirstName);
    const QString id = SortOptionsDialog::description(settings::SortType::ContactId);
    QTest::newRow("at load") << QStringList() << last;
    QTest::newRow("First Name") << QStringList{"optFirst"} << first;
    QTest::newRow("Contact ID") << QStringList{"optId"} << id;
    QTest::newRow("back to Last Name") << QStringList{"optId", "optLast"} << last;
    QTest::newRow("First Name after Contact ID") << QStringList{"optId", "optFirst"} << first;
}

void TestSortOptions::optionShowsItsDescription()
{
    QFETCH(QStringList, clicks);
    QFETCH(QString, expected);

    TestAppFolder folder;
    platform::ScriptedMessageBoxes boxes;
    SortOptionsDialog dialog;
    for (const QString &name : clicks)
        dialog.findChild<QRadioButton *>(name)->click();

    QVERIFY(!expected.isEmpty());
    QCOMPARE(description(&dialog), expected);
    int selected = 0;
    for (const char *name : {"optLast", "optFirst", "optId"})
        selected += child<QRadioButton>(&dialog, name)->isChecked() ? 1 : 0;
    QCOMPARE(selected, 1);
    // Choosing only changes the text: nothing is written.
    QVERIFY(!QFile::exists(folder.file(settingsFile)));
    QCOMPARE(boxes.count(), 0);
}

void TestSortOptions::closeSavesNothing()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(settingsFile, oldBytes));
    platform::ScriptedMessageBoxes boxes;
    platform::WindowSlot<SortOptionsDialog> slot;
    SortOptionsDialog *dialog = slot.show([] { return new SortOptionsDialog; });
    child<QRadioButton>(dialog, "optId")->click();
    child<QPushButton>(dialog, "cmdClose")->click();

    QVERIFY(!slot.isLoaded());
    QCOMPARE(folder.readFile(settingsFile), oldBytes);
    QCOMPARE(boxes.count(), 0);
}

void TestSortOptions::everyLoadStartsAtLastName()
{
    TestAppFolder folder;
    // What is saved does not matter: the dialog never reads the file.
    QVERIFY(folder.writeFile(settingsFile, expectedFile("contactid")));
    platform::ScriptedMessageBoxes boxes;
    platform::WindowSlot<SortOptionsDialog> slot;

    SortOptionsDialog *dialog = slot.show([] { return new SortOptionsDialog; });
    QVERIFY(child<QRadioButton>(dialog, "optLast")->isChecked());
    child<QRadioButton>(dialog, "optFirst")->click();
    child<QPushButton>(dialog, "cmdSave")->click();
    QCOMPARE(folder.readFile(settingsFile), expectedFile("firstname"));

    // Showing it again while open brings the same dialog with the user's choice.
    QCOMPARE(slot.show([] { return new SortOptionsDialog; }), dialog);
    QVERIFY(child<QRadioButton>(dialog, "optFirst")->isChecked());

    QPointer<SortOptionsDialog> closed = dialog;
    child<QPushButton>(dialog, "cmdClose")->click();
    QTRY_VERIFY(closed.isNull());

    SortOptionsDialog *reopened = slot.show([] { return new SortOptionsDialog; });
    QVERIFY(child<QRadioButton>(reopened, "optLast")->isChecked());
    QVERIFY(!child<QRadioButton>(reopened, "optFirst")->isChecked());
    QCOMPARE(description(reopened), SortOptionsDialog::description(settings::SortType::LastName));
    slot.close();
}

void TestSortOptions::windowAndKeyboard()
{
    SortOptionsDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("frmOptions"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Pelmora - Sort Type"));
    QCOMPARE(dialog.size(), platform::twipsSize(5655, 3735));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.windowType(), Qt::Dialog);
    QVERIFY(
        !(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(dialog.parentWidget() == nullptr);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(&dialog, "cmdClose"));
    // Tab walks Close, Save, then into the option group; neither button is a default button.
    QTest::keyClick(&dialog, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(&dialog, "cmdSave"));
    QVERIFY(!child<QPushButton>(&dialog, "cmdSave")->isDefault());
    QVERIFY(!child<QPushButton>(&dialog, "cmdClose")->isDefault());
}

void TestSortOptions::failureKeepsOldFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");

    QTest::newRow("folder missing") << "remove DataDir"
                                    << "No such file or directory";
    QTest::newRow("settings.ini is a folder") << "folder at settings.ini"
                                              << "the path is a folder, not a file";
}

void TestSortOptions::failureKeepsOldFile()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);

    TestAppFolder folder;
    if (setup == QLatin1String("remove DataDir"))
        QVERIFY(QDir(folder.dataDir()).removeRecursively());
    else
        QVERIFY(QDir().mkpath(folder.file(settingsFile)));
    platform::ScriptedMessageBoxes boxes;
    SortOptionsDialog dialog;
    child<QRadioButton>(&dialog, "optId")->click();
    child<QPushButton>(&dialog, "cmdSave")->click();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Sort Type"));
    QCOMPARE(boxes.last().icon, MessageIcon::Critical);
    QVERIFY2(boxes.last().text.startsWith(QStringLiteral("Your Sort Type could not be saved.")),
             qPrintable(boxes.last().text));
    QVERIFY2(boxes.last().text.contains(QDir::toNativeSeparators(settings::settingsIniPath())),
             qPrintable(boxes.last().text));
    QVERIFY2(boxes.last().text.contains(reason), qPrintable(boxes.last().text));
    if (setup == QLatin1String("remove DataDir"))
        QVERIFY(!QFileInfo::exists(folder.dataDir()));
    else
        QVERIFY(QFileInfo(folder.file(settingsFile)).isDir());
}

void TestSortOptions::failureInChildKeepsOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QString>("reason");

    // A file-size limit below the file's 33 bytes stands for a disk that fills mid-write.
    QTest::newRow("disk full") << "fsize" << true << "File too large";
    QTest::newRow("disk full at the first byte") << "fsize0" << true << "File too large";
    // The same limit with its signal kills the process mid-write, as a crash would.
    QTest::newRow("killed while writing") << "fsize-kill" << false << "";
    QTest::newRow("folder read-only for the user")
        << "nobody, folder" << true << "Permission denied";
    QTest::newRow("file read-only for the user") << "nobody, file" << true << "is not writable";
}

void TestSortOptions::failureInChildKeepsOldFile()
{
    QFETCH(QString, how);
    QFETCH(bool, reported);
    QFETCH(QString, reason);

    TestAppFolder folder;
    QVERIFY(folder.writeFile(settingsFile, oldBytes));
    const QString helper = QStringLiteral(SORTOPTIONS_CHILD);
    const QStringList arguments{folder.path(), QStringLiteral("optId")};

    ChildResult result;
    if (how.startsWith(QLatin1String("nobody"))) {
        if (!canDropPrivileges())
            QSKIP("needs root and setpriv to run the save as an unprivileged user");
        folder.openToEveryone();
        const bool folderDenied = how.endsWith(QLatin1String("folder"));
        // Only one of the two denies: the folder's entries, or the old file itself.
        QCOMPARE(
            ::chmod(QFile::encodeName(folder.dataDir()).constData(), folderDenied ? 0555 : 0777),
            0);
        QCOMPARE(::chmod(QFile::encodeName(folder.file(settingsFile)).constData(),
                         folderDenied ? 0666 : 0444),
                 0);
        result = runAsNobody(helper, arguments);
    } else {
        const QString limit = how == QLatin1String("fsize0") ? QStringLiteral("--fsize=0")
                                                             : QStringLiteral("--fsize=10");
        QStringList all{limit, helper};
        all << arguments;
        if (how != QLatin1String("fsize-kill"))
            all << QStringLiteral("--ignore-sigxfsz");
        result = runChild(QStringLiteral("prlimit"), all);
    }
    QVERIFY(result.started);

    QCOMPARE(folder.readFile(settingsFile), oldBytes);
    if (!reported) {
        QCOMPARE(result.exitCode, -1);
        return;
    }
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> lines = result.output.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject box = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(box.value(QStringLiteral("title")).toString(), QStringLiteral("Sort Type"));
    QCOMPARE(box.value(QStringLiteral("icon")).toInt(), int(MessageIcon::Critical));
    const QString text = box.value(QStringLiteral("text")).toString();
    QVERIFY2(text.startsWith(QStringLiteral("Your Sort Type could not be saved.")),
             qPrintable(text));
    QVERIFY2(text.contains(QDir::toNativeSeparators(folder.file(settingsFile))), qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    // The half-written temporary file is gone too.
    QCOMPARE(QDir(folder.dataDir()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("settings.ini")});
}

QTEST_MAIN(TestSortOptions)
#include "tst_sortoptions.moc"
