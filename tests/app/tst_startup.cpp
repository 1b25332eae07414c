#include <app/splashwindow.h>
#include <app/startup.h>
#include <app/windows.h>
#include <core/interchange/jetimport.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/programexit.h>
#include <gui/platform/programlauncher.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/childprocess.h>
#include <support/dbquery.h>
#include <support/jetframes.h>
#include <support/recordingterminator.h>
#include <support/testappfolder.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using platform::MessageAnswer;

namespace {

const QString installedZeroText = QStringLiteral(
    "Crystal Reports has not been installed on this machine. Crystal Reports is required to be "
    "installed to view reports. To begin the installation of Crystal Reports click 'ok'.");

class RecordingLauncher final : public platform::ProgramLauncher
{
public:
    Result<void> start(const QString &program) override
    {
        m_started.append(program);
        return {};
    }
    const QStringList &started() const { return m_started; }

private:
    QStringList m_started;
};

QList<QWidget *> topLevelWindows(const QString &objectName)
{
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName && !widget->testAttribute(Qt::WA_WState_Hidden))
            found.append(widget);
    }
    return found;
}

// Records, when the main window is first shown, whether the splash window was still there and
// how many progress assignments had been made.
class MainWindowShowWatcher final : public QObject
{
public:
    explicit MainWindowShowWatcher(const QList<int> *progress)
        : m_progress(progress)
    {
        qApp->installEventFilter(this);
    }
    ~MainWindowShowWatcher() override { qApp->removeEventFilter(this); }

    bool shown = false;
    bool splashVisibleAtShow = true;
    qsizetype assignmentsAtShow = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!shown && event->type() == QEvent::Show
            && watched->objectName() == QLatin1String("frmContactList2")) {
            shown = true;
            splashVisibleAtShow = !topLevelWindows(QStringLiteral("frmSplash")).isEmpty();
            assignmentsAtShow = m_progress->size();
        }
        return false;
    }

private:
    const QList<int> *m_progress;
};

} // namespace

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reportEngineCheck_data();
    void reportEngineCheck();
    void okStartsTheInstallerAndEnds();
    void installerCannotStart_data();
    void installerCannotStart();
    void dataDirMissing();
    void progressThenMainWindow();
    void secondTickDuringTheBox();
    void splashShownBeforeTheFirstTick();
    void handOverKeepsTheProgramRunning();
    void jetAddressBook_data();
    void jetAddressBook();
    void portableFolderWithoutAddressBook_data();
    void portableFolderWithoutAddressBook();

private:
    // Runs the start-up routine and the event loop until it has shown the main window or
    // asked to end the program.
    void startAndSettle();
    void writeMarker(const QByteArray &content);

    std::unique_ptr<TestAppFolder> m_folder;
    std::unique_ptr<platform::ScriptedMessageBoxes> m_boxes;
    RecordingTerminator m_terminator;
};

void TstStartup::init()
{
    m_folder = std::make_unique<TestAppFolder>();
    QVERIFY(m_folder->isValid());
    QVERIFY(m_folder->createDatabase({makeContact("1", "Ames", "Ann")}));
    m_boxes = std::make_unique<platform::ScriptedMessageBoxes>();
    m_terminator = RecordingTerminator();
    platform::setProgramTerminator(&m_terminator);
}

void TstStartup::cleanup()
{
    // A start-up that ended early leaves its splash window behind (the real program would
    // have ended); unload every window before the next test.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        widget->setAttribute(Qt::WA_DeleteOnClose);
        widget->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!app::splashWindow());
    QVERIFY(!app::mainWindow());
    platform::setProgramTerminator(nullptr);
    platform::setProgramLauncher(nullptr);
    m_boxes.reset();
    m_folder.reset();
}

void TstStartup::startAndSettle()
{
    app::startup();
    QTRY_VERIFY(m_terminator.calls() > 0 || app::mainWindow());
}

void TstStartup::writeMarker(const QByteArray &content)
{
    QVERIFY(m_folder->writeFile(QStringLiteral("Program Data/crystl32.ini"), content));
}

void TstStartup::reportEngineCheck_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("offersInstaller");

    QTest::newRow("installed=1") << true << QByteArray("[settings]\r\ninstalled=1\r\n") << false;
    QTest::newRow("file missing") << false << QByteArray() << false;
    QTest::newRow("key missing") << true << QByteArray("[settings]\r\n") << false;
    QTest::newRow("empty value") << true << QByteArray("[settings]\r\ninstalled=\r\n") << false;
    QTest::newRow("other text") << true << QByteArray("[settings]\r\ninstalled=no\r\n") << false;
    QTest::newRow("0 then a space")
        << true << QByteArray("[settings]\r\ninstalled=0 \r\n") << false;
    QTest::newRow("space before =")
        << true << QByteArray("[settings]\r\ninstalled =0\r\n") << false;
    QTest::newRow("installed=0") << true << QByteArray("[settings]\r\ninstalled=0\r\n") << true;
    QTest::newRow("capitals") << true << QByteArray("[SETTINGS]\r\nINSTALLED=0\r\n") << true;
    QTest::newRow("0 without final line end")
        << true << QByteArray("[settings]\ninstalled=0") << true;
}

// "0" offers the installer; Cancel ends the program without starting anything. Everything
// else goes on to the main window without a word.
void TstStartup::reportEngineCheck()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, content);
    QFETCH(bool, offersInstaller);

    if (fileExists)
        writeMarker(content);
    RecordingLauncher launcher;
    platform::setProgramLauncher(&launcher);
    m_boxes->queueAnswer(MessageAnswer::Cancel);

    startAndSettle();

    QVERIFY(launcher.started().isEmpty());
    if (offersInstaller) {
        QCOMPARE(m_boxes->count(), 1);
        const platform::MessageRequest box = m_boxes->last();
        QCOMPARE(box.title, QStringLiteral("Program Required"));
        QCOMPARE(box.text, installedZeroText);
        QCOMPARE(box.icon, platform::MessageIcon::Critical);
        QCOMPARE(box.buttons, platform::MessageButtons::OkCancel);
        QCOMPARE(m_terminator.calls(), 1);
        QVERIFY(!app::mainWindow());
        QVERIFY(topLevelWindows(QStringLiteral("frmContactList2")).isEmpty());
    } else {
        QCOMPARE(m_boxes->count(), 0);
        QCOMPARE(m_terminator.calls(), 0);
        QVERIFY(app::mainWindow());
        QCOMPARE(app::mainWindow()->objectName(), QStringLiteral("frmContactList2"));
        QVERIFY(app::mainWindow()->isVisible());
        QCOMPARE(topLevelWindows(QStringLiteral("frmContactList2")).size(), 1);
        QVERIFY(topLevelWindows(QStringLiteral("frmSplash")).isEmpty());
    }
    // The marker is only read, never written (a missing one is left behind empty).
    QCOMPARE(m_folder->readFile(QStringLiteral("Program Data/crystl32.ini")), content);
    QVERIFY(QFileInfo::exists(m_folder->file(QStringLiteral("Program Data/crystl32.ini"))));
}

// OK starts AppPath/crystl32/crystl32.exe (here a script that leaves a file behind) and
// ends the program.
void TstStartup::okStartsTheInstallerAndEnds()
{
    writeMarker("[settings]\r\ninstalled=0\r\n");
    const QString started = m_folder->file(QStringLiteral("installer-started"));
    const QString installer = QStringLiteral("crystl32/crystl32.exe");
    QVERIFY(m_folder->writeFile(installer, "#!/bin/sh\necho \"$PWD\" > '"
                                               + QFile::encodeName(started) + "'\n"));
    QVERIFY(QFile::setPermissions(m_folder->file(installer),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_boxes->queueAnswer(MessageAnswer::Ok);

    startAndSettle();

    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().title, QStringLiteral("Program Required"));
    QCOMPARE(m_terminator.calls(), 1);
    QVERIFY(!app::mainWindow());
    QTRY_VERIFY(QFileInfo(started).size() > 0);
    // Ended at once: no further tick starts anything else.
    QSignalSpy ticks(app::splashWindow()->timer(), &QTimer::timeout);
    QTRY_VERIFY(ticks.size() >= 3);
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_terminator.calls(), 1);
}

void TstStartup::installerCannotStart_data()
{
    QTest::addColumn<QByteArray>("installerContent"); // null: no file at all
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << QByteArray() << "The file does not exist.";
    QTest::newRow("not executable")
        << QByteArray("#!/bin/sh\n") << "The file is not an executable program.";
}

void TstStartup::installerCannotStart()
{
    QFETCH(QByteArray, installerContent);
    QFETCH(QString, reason);

    writeMarker("[settings]\r\ninstalled=0\r\n");
    const QString installer = m_folder->file(QStringLiteral("crystl32/crystl32.exe"));
    if (!installerContent.isNull())
        QVERIFY(m_folder->writeFile(QStringLiteral("crystl32/crystl32.exe"), installerContent));
    m_boxes->queueAnswer(MessageAnswer::Ok);

    startAndSettle();

    QCOMPARE(m_boxes->count(), 2);
    const platform::MessageRequest box = m_boxes->last();
    QVERIFY2(box.text.contains(installer), qPrintable(box.text));
    QVERIFY2(box.text.contains(reason), qPrintable(box.text));
    QCOMPARE(box.icon, platform::MessageIcon::Critical);
    QCOMPARE(m_terminator.calls(), 1);
    QVERIFY(!app::mainWindow());
}

void TstStartup::dataDirMissing()
{
    QVERIFY(QDir(m_folder->dataDir()).removeRecursively());

    startAndSettle();

    QCOMPARE(m_boxes->count(), 1);
    const platform::MessageRequest box = m_boxes->last();
    QVERIFY2(box.text.contains(QStringLiteral("the folder %1 does not exist")
                                   .arg(QDir::toNativeSeparators(m_folder->dataDir()))),
             qPrintable(box.text));
    QCOMPARE(box.icon, platform::MessageIcon::Critical);
    QCOMPARE(m_terminator.calls(), 1);
    QVERIFY(!app::mainWindow());
    QVERIFY(!QFileInfo::exists(m_folder->dataDir()));
}

// The bar is set to 0 once, then 1000 times to each multiple of 5 up to 100; only after that
// and after the splash window has gone does the main window appear.
void TstStartup::progressThenMainWindow()
{
    writeMarker("[settings]\r\ninstalled=1\r\n");
    QList<int> progress;
    MainWindowShowWatcher watcher(&progress);
    app::startup();
    SplashWindow *splash = app::splashWindow();
    QVERIFY(splash);
    const QPointer<SplashWindow> splashAlive(splash);
    connect(splash, &SplashWindow::progressAssigned, this,
            [&progress](int value) { progress.append(value); });
    QSignalSpy shownValues(splash->progressBar(), &QProgressBar::valueChanged);

    QTRY_VERIFY(app::mainWindow());

    QCOMPARE(progress.size(), 20001);
    QCOMPARE(progress.first(), 0);
    for (qsizetype i = 1; i < progress.size(); ++i) {
        const int expected = int(5 * ((i - 1) / 1000 + 1));
        if (progress.at(i) != expected)
            QFAIL(qPrintable(QStringLiteral("assignment %1 was %2, not %3")
                                 .arg(i)
                                 .arg(progress.at(i))
                                 .arg(expected)));
    }
    QList<int> shown;
    for (const QList<QVariant> &arguments : std::as_const(shownValues))
        shown.append(arguments.first().toInt());
    QList<int> expectedShown{0};
    for (int value = 5; value <= 100; value += 5)
        expectedShown.append(value);
    QCOMPARE(shown, expectedShown);

    QVERIFY(watcher.shown);
    QCOMPARE(watcher.assignmentsAtShow, 20001);
    QVERIFY(!watcher.splashVisibleAtShow);
    QTRY_VERIFY(splashAlive.isNull());
    QVERIFY(!app::splashWindow());
}

// While the box is open its event loop runs (Qt itself holds back Timer1 while its handler
// runs); neither that nor any tick after the handler has returned may start the check again.
void TstStartup::secondTickDuringTheBox()
{
    writeMarker("[settings]\r\ninstalled=0\r\n");
    RecordingLauncher launcher;
    platform::setProgramLauncher(&launcher);
    int boxesDuringBox = -1;
    m_boxes->setDuringBox([this, &boxesDuringBox](const platform::MessageRequest &) {
        QTimer other;
        QSignalSpy otherTicks(&other, &QTimer::timeout);
        other.start(1);
        QTRY_VERIFY(otherTicks.size() >= 5);
        boxesDuringBox = m_boxes->count();
    });
    m_boxes->queueAnswer(MessageAnswer::Cancel);

    startAndSettle();

    QCOMPARE(boxesDuringBox, 1);
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_terminator.calls(), 1);
    QSignalSpy laterTicks(app::splashWindow()->timer(), &QTimer::timeout);
    QTRY_VERIFY(laterTicks.size() >= 3);
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_terminator.calls(), 1);
    QVERIFY(launcher.started().isEmpty());
    QVERIFY(!app::mainWindow());
    QVERIFY(topLevelWindows(QStringLiteral("frmContactList2")).isEmpty());
}

// The splash window is up, centred and untouched when the first tick asks its question.
void TstStartup::splashShownBeforeTheFirstTick()
{
    writeMarker("[settings]\r\ninstalled=0\r\n");
    bool checked = false;
    m_boxes->setDuringBox([&checked](const platform::MessageRequest &) {
        SplashWindow *splash = app::splashWindow();
        QVERIFY(splash);
        QVERIFY(splash->isVisible());
        QVERIFY(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(splash->frameGeometry().center(), splash->screen()->geometry().center());
        QVERIFY(splash->timer()->isActive());
        QCOMPARE(splash->timer()->interval(), 1);
        QCOMPARE(splash->progressBar()->minimum(), 0);
        QCOMPARE(splash->progressBar()->maximum(), 100);
        QCOMPARE(splash->progressBar()->objectName(), QStringLiteral("ProgressBar1"));
        QCOMPARE(topLevelWindows(QStringLiteral("frmSplash")).size(), 1);
        checked = true;
    });
    m_boxes->queueAnswer(MessageAnswer::Cancel);

    startAndSettle();

    QVERIFY(checked);
}

// In the real event loop, closing the splash window leaves no window open for a moment;
// that must not end the program.
void TstStartup::handOverKeepsTheProgramRunning()
{
    writeMarker("[settings]\r\ninstalled=1\r\n");
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());

    // Once the main window is up, queue our own way out behind anything already posted,
    // such as a quit caused by the splash window closing.
    constexpr int reachedMainWindow = 42;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&poll] {
        if (app::mainWindow() && app::mainWindow()->isVisible()) {
            poll.stop();
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(reachedMainWindow); }, Qt::QueuedConnection);
        }
    });
    poll.start(0);
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTimer::singleShot(0, qApp, &app::startup);

    QCOMPARE(QApplication::exec(), reachedMainWindow);
    // Whether or not this Qt would quit on it, it never learnt of a last window closing.
    QCOMPARE(lastWindowClosed.size(), 0);
    QVERIFY(app::mainWindow());
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
}

void TstStartup::jetAddressBook_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<bool>("converted");
    QTest::addColumn<QString>("secondBox");
    const QByteArray rows = header({"contactid", "LastName", "FirstName"})
                            + row({"4", "Ames", "Ann"}) + row({"9", "Cole", std::nullopt});
    QTest::newRow("Yes converts and goes on")
        << script("exit 0", rows + end(2)) << MessageAnswer::Yes << true << QString();
    QTest::newRow("No ends as before")
        << script("exit 0", rows + end(2)) << MessageAnswer::No << false << "could not be opened";
    QTest::newRow("a failed conversion says why")
        << script("kill", rows) << MessageAnswer::Yes << false << "The reader crashed";
}

// A cntdb.mdb in the Access (Jet) format is offered for conversion before the main window.
void TstStartup::jetAddressBook()
{
    QFETCH(QByteArray, stream);
    QFETCH(MessageAnswer, answer);
    QFETCH(bool, converted);
    QFETCH(QString, secondBox);
    writeMarker("[settings]\r\ninstalled=1\r\n");
    const QString path = m_folder->databasePath();
    QVERIFY(QFile::remove(path));
    QVERIFY(m_folder->writeFile(QStringLiteral("cntdb.mdb"), stream));
    interchange::setJetReaderPathForTesting(QStringLiteral(FAKEJETREADER_PATH));
    m_boxes->queueAnswer(answer);
    m_boxes->queueAnswer(MessageAnswer::Ok);

    startAndSettle();
    interchange::setJetReaderPathForTesting({});

    QVERIFY(m_boxes->count() >= 1);
    const platform::MessageRequest question = m_boxes->shown().first();
    QCOMPARE(question.title, QStringLiteral("Pelmora"));
    QCOMPARE(question.icon, platform::MessageIcon::Question);
    QCOMPARE(question.buttons, platform::MessageButtons::YesNo);
    QVERIFY2(question.text.contains(path) && question.text.contains(QStringLiteral("Access (Jet)")),
             qPrintable(question.text));
    if (converted) {
        QCOMPARE(m_boxes->count(), 1);
        QCOMPARE(m_terminator.calls(), 0);
        QVERIFY(app::mainWindow());
        QCOMPARE(queryColumn(path, QStringLiteral("select contactid || LastName from contactsdb")),
                 (QStringList{"4Ames", "9Cole"}));
        QCOMPARE(fileBytes(path + ".jet"), stream);
        return;
    }
    QCOMPARE(m_boxes->count(), 2);
    QVERIFY2(m_boxes->last().text.contains(path) && m_boxes->last().text.contains(secondBox),
             qPrintable(m_boxes->last().text));
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Critical);
    QCOMPARE(m_terminator.calls(), 1);
    QVERIFY(!app::mainWindow());
    QCOMPARE(fileBytes(path), stream);
    QVERIFY(!QFileInfo::exists(path + ".jet"));
}

void TstStartup::portableFolderWithoutAddressBook_data()
{
    QTest::addColumn<bool>("programData"); // "Program Data/" beside the executable
    QTest::addColumn<bool>("templatesInstalled");
    QTest::addColumn<QString>("message"); // the one box; %1 is the executable's folder

    const QString databaseMissing = QStringLiteral(
        "The contact database could not be opened.\n\nFile: %1/cntdb.mdb\nReason: The file was "
        "not found.");
    QTest::newRow("Program Data without cntdb.mdb") << true << false << databaseMissing;
    QTest::newRow("Program Data without cntdb.mdb, templates installed too")
        << true << true << databaseMissing;
    QTest::newRow("neither, no templates installed")
        << false << false
        << "Pelmora cannot start: the file that records whether Crystal Reports is installed "
           "cannot be read.\n\n%1/Program Data/crystl32.ini: the folder %1/Program Data does "
           "not exist";
}

// The executable's folder that holds "Program Data" is a portable application folder, with or
// without its address book: a missing cntdb.mdb is named there, and nothing is made in the
// user's home.
void TstStartup::portableFolderWithoutAddressBook()
{
    QFETCH(bool, programData);
    QFETCH(bool, templatesInstalled);
    QFETCH(QString, message);
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("prefix/bin"));
    const QString program = bin + QStringLiteral("/pelmora");
    QVERIFY(QDir().mkpath(bin) && QFile::copy(QStringLiteral(STARTUPCHILD_PATH), program));
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
               && file.write(bytes) == bytes.size();
    };
    if (programData) {
        QVERIFY(write(bin + QStringLiteral("/Program Data/crystl32.ini"),
                      "[settings]\r\ninstalled=1\r\n"));
        QVERIFY(write(bin + QStringLiteral("/Program Data/settings.ini"),
                      "[settings]\r\nsorttype=lastname\r\n"));
    }
    if (templatesInstalled) {
        const QString templates = root.filePath(QStringLiteral("prefix/share/pelmora"));
        QVERIFY(write(templates + QStringLiteral("/cntdb.mdb"), "template address book"));
        QVERIFY(write(templates + QStringLiteral("/Program Data/crystl32.ini"),
                      "[settings]\r\ninstalled=1\r\n"));
    }
    const QString home = root.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));

    const ChildResult child
        = runChild(QStringLiteral("env"), {QStringLiteral("-u"), QStringLiteral("XDG_DATA_HOME"),
                                           QStringLiteral("HOME=") + home,
                                           QStringLiteral("QT_QPA_PLATFORM=offscreen"), program});
    QVERIFY(child.started);
    const QList<QByteArray> lines = child.output.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(lines.first()).array().first().toString(), message.arg(bin));
    QVERIFY(QDir(home).isEmpty());
    QVERIFY(!QFileInfo::exists(bin + QStringLiteral("/cntdb.mdb")));
}

QTEST_MAIN(TstStartup)

#include "tst_startup.moc"
