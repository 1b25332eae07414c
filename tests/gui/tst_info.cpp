#include <support/childprocess.h>
#include <support/testappfolder.h>

#include <core/settings/settingsfiles.h>
#include <gui/dialogs/aboutdialog.h>
#include <gui/dialogs/programinfowindow.h>
#include <gui/platform/programexit.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <gui/platform/twips.h>
#include <gui/platform/windowslot.h>

#include <QClipboard>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString infoFile = QStringLiteral("Program Data/ProgramInfo.txt");

template<typename T>
T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

QPlainTextEdit *textBox(ProgramInfoWindow *window)
{
    return child<QPlainTextEdit>(window, "txtProgramInfo");
}

QString shownText()
{
    ProgramInfoWindow *window = info::programInfoWindow();
    return window ? textBox(window)->toPlainText() : QStringLiteral("<not loaded>");
}

// Counts the requests to bring the main window forward.
struct MainWindowProbe
{
    int shown = 0;
    std::function<void()> function()
    {
        return [this] {
            ++shown;
        };
    }
};

class EndingTerminator final : public platform::ProgramTerminator
{
public:
    void endNow() override {}
};

} // namespace

class TestInfo : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void showsWholeFile_data();
    void showsWholeFile();
    void textIsLockedButSelectable();
    void openWindowIsNotReadAgain();
    void closingAboutLeavesProgramInfoOpen();
    void closingAbout_data();
    void closingAbout();
    void unreadableFile_data();
    void unreadableFile();
    void fileDeniedToTheUser();
    void windows();

private:
    platform::WindowSlot<AboutDialog> m_about;
};

void TestInfo::cleanup()
{
    QPointer<ProgramInfoWindow> programInfo = info::programInfoWindow();
    if (programInfo)
        programInfo->close();
    m_about.close();
    QTRY_VERIFY(programInfo.isNull());
    platform::setProgramTerminator(nullptr);
}

void TestInfo::showsWholeFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("several lines") << QByteArray("first\nsecond\nthird") << "first\nsecond\nthird";
    QTest::newRow("CR LF line breaks") << QByteArray("first\r\nsecond\r\n") << "first\nsecond\n";
    QTest::newRow("empty file") << QByteArray("") << "";
    QTest::newRow("final line break kept") << QByteArray("one line\n\n") << "one line\n\n";
    QTest::newRow("blank lines, commas, quotes, leading blanks")
        << QByteArray("  \"Pelmora\", 3.0\n\n\n   a, b, \"c\"")
        << "  \"Pelmora\", 3.0\n\n\n   a, b, \"c\"";
    QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9 \xe2\x82\xac") << QStringLiteral("Café €");
    QTest::newRow("invalid UTF-8 read as Latin-1")
        << QByteArray("Caf\xe9\r\nna\xefve \xff") << QStringLiteral("Café\nnaïve ÿ");

    // Far beyond the 32,767 bytes a 16-bit length could hold.
    QByteArray big;
    QString bigText;
    for (int line = 0; big.size() < 100 * 1024; ++line) {
        const QByteArray text = "Line " + QByteArray::number(line)
                                + ", \"quoted\" and long enough to wrap in the box\n";
        big += text;
        bigText += QString::fromLatin1(text);
    }
    QTest::newRow("100 KB") << big << bigText;
}

void TestInfo::showsWholeFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, bytes));
    platform::ScriptedMessageBoxes boxes;
    info::showProgramInfo();

    QCOMPARE(shownText(), expected);
    QCOMPARE(boxes.count(), 0);
}

void TestInfo::textIsLockedButSelectable()
{
    // More lines than the box can show.
    QByteArray bytes;
    for (int line = 1; line <= 40; ++line)
        bytes += "Line " + QByteArray::number(line) + " of the program information\n";
    const QString text = QString::fromLatin1(bytes);
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, bytes));
    platform::ScriptedMessageBoxes boxes;
    ProgramInfoWindow *window = info::showProgramInfo();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QPlainTextEdit *box = textBox(window);

    QCOMPARE(QApplication::focusWidget(), box);
    QTest::keyClicks(box, "typed");
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->toPlainText(), text);

    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), text);

    // The caret walks the text: what does not fit is reached without scroll bars.
    QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(box->textCursor().position(), text.size());
    QVERIFY(!box->verticalScrollBar()->isVisible());
    QVERIFY(!box->horizontalScrollBar()->isVisible());
    QVERIFY(box->cursorRect().bottom() <= box->viewport()->height());
    QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(box->palette().color(QPalette::Base), box->palette().color(QPalette::Button));

    // Tab leaves the box for Close.
    QTest::keyClick(box, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(window, "cmdClose"));
}

void TestInfo::openWindowIsNotReadAgain()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, "first version\n"));
    platform::ScriptedMessageBoxes boxes;
    MainWindowProbe mainWindow;
    AboutDialog *about = m_about.show([&] { return new AboutDialog(mainWindow.function()); });
    auto *button = child<QPushButton>(about, "cmdProgramInfo");

    button->click();
    ProgramInfoWindow *first = info::programInfoWindow();
    QVERIFY(first);
    QCOMPARE(shownText(), QStringLiteral("first version\n"));

    // A second press only brings the same window forward: neither the new text nor the
    // missing file is seen.
    QVERIFY(folder.writeFile(infoFile, "second version\n"));
    button->click();
    QCOMPARE(info::programInfoWindow(), first);
    QCOMPARE(shownText(), QStringLiteral("first version\n"));
    QVERIFY(QFile::remove(folder.file(infoFile)));
    button->click();
    QCOMPARE(shownText(), QStringLiteral("first version\n"));
    QCOMPARE(boxes.count(), 0);

    // Closed and opened again, the window reads the file again.
    QVERIFY(folder.writeFile(infoFile, "third version\n"));
    QPointer<ProgramInfoWindow> closed = first;
    child<QPushButton>(first, "cmdClose")->click();
    QVERIFY(!info::programInfoWindow());
    QTRY_VERIFY(closed.isNull());
    button->click();
    QCOMPARE(shownText(), QStringLiteral("third version\n"));
    QVERIFY(m_about.isLoaded());
    QCOMPARE(mainWindow.shown, 0);
}

void TestInfo::closingAboutLeavesProgramInfoOpen()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, "text"));
    platform::ScriptedMessageBoxes boxes;
    MainWindowProbe mainWindow;
    for (const char *closer : {"cmdOK", "close box"}) {
        AboutDialog *about = m_about.show([&] { return new AboutDialog(mainWindow.function()); });
        child<QPushButton>(about, "cmdProgramInfo")->click();
        if (auto *button = child<QPushButton>(about, closer))
            button->click();
        else
            about->close();
        QVERIFY2(!m_about.isLoaded(), closer);
        QVERIFY2(info::programInfoWindow() && info::programInfoWindow()->isVisible(), closer);
        QCOMPARE(shownText(), QStringLiteral("text"));
    }
}

void TestInfo::closingAbout_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("mainWindowShown");

    QTest::newRow("OK") << "OK" << 1;
    QTest::newRow("close box") << "close box" << 0;
    QTest::newRow("OK while the program ends") << "OK, ending" << 0;
}

void TestInfo::closingAbout()
{
    QFETCH(QString, how);
    QFETCH(int, mainWindowShown);

    TestAppFolder folder;
    MainWindowProbe mainWindow;
    EndingTerminator terminator;
    platform::setProgramTerminator(&terminator);
    QPointer<AboutDialog> about
        = m_about.show([&] { return new AboutDialog(mainWindow.function()); });
    if (how == QLatin1String("OK, ending"))
        platform::endProgram();
    if (how.startsWith(QLatin1String("OK")))
        child<QPushButton>(about, "cmdOK")->click();
    else
        about->close();

    QVERIFY(!m_about.isLoaded());
    QTRY_VERIFY(about.isNull());
    QCOMPARE(mainWindow.shown, mainWindowShown);
}

void TestInfo::unreadableFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << ""
                             << "No such file or directory";
    QTest::newRow("a folder at its path") << "folder"
                                          << "directory";
}

void TestInfo::unreadableFile()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);

    TestAppFolder folder;
    if (setup == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(folder.file(infoFile)));
    platform::ScriptedMessageBoxes boxes;
    QString textWhileBoxShown;
    boxes.setDuringBox([&](const platform::MessageRequest &) {
        textWhileBoxShown = info::programInfoWindow() && info::programInfoWindow()->isVisible()
                                ? shownText()
                                : QStringLiteral("<window not shown>");
    });
    info::showProgramInfo();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Program Information"));
    QCOMPARE(boxes.last().icon, platform::MessageIcon::Critical);
    const QString text = boxes.last().text;
    QVERIFY2(text.contains(QDir::toNativeSeparators(settings::programInfoPath())),
             qPrintable(text));
    QVERIFY2(text.contains(reason, Qt::CaseInsensitive), qPrintable(text));
    // The window is open, with an empty box, behind the message.
    QCOMPARE(textWhileBoxShown, QString());
    QCOMPARE(shownText(), QString());
}

void TestInfo::fileDeniedToTheUser()
{
    if (!canDropPrivileges())
        QSKIP("needs root and setpriv to load the window as an unprivileged user");
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, "secret"));
    folder.openToEveryone();
    QCOMPARE(::chmod(QFile::encodeName(folder.file(infoFile)).constData(), 0600), 0);

    const ChildResult result = runAsNobody(QStringLiteral(PROGRAMINFO_CHILD), {folder.path()});
    QVERIFY(result.started);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject shown = QJsonDocument::fromJson(result.output).object();
    QCOMPARE(shown.value(QStringLiteral("text")).toString(), QString());
    QVERIFY(shown.value(QStringLiteral("visible")).toBool());
    const QJsonArray boxes = shown.value(QStringLiteral("boxes")).toArray();
    QCOMPARE(boxes.size(), 1);
    const QString text = boxes.at(0).toObject().value(QStringLiteral("text")).toString();
    QVERIFY2(text.contains(QDir::toNativeSeparators(folder.file(infoFile))), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Permission denied")), qPrintable(text));
}

void TestInfo::windows()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, "text"));
    platform::ScriptedMessageBoxes boxes;

    AboutDialog *about = m_about.show([] { return new AboutDialog({}); });
    QCOMPARE(about->objectName(), QStringLiteral("frmAbout"));
    QCOMPARE(about->windowTitle(), QStringLiteral("Pelmora - About"));
    QCOMPARE(about->size(), platform::twipsSize(6120, 4545));
    QCOMPARE(about->minimumSize(), about->maximumSize());
    QCOMPARE(about->windowType(), Qt::Dialog);
    QVERIFY(about->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(
        !(about->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!about->windowIcon().isNull());
    QVERIFY(QTest::qWaitForWindowActive(about));
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(about, "cmdProgramInfo"));
    QTest::keyClick(about, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(about, "cmdOK"));
    QTest::keyClick(about, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(about, "cmdProgramInfo"));
    for (const char *name : {"cmdOK", "cmdProgramInfo"})
        QVERIFY(!child<QPushButton>(about, name)->isDefault());

    ProgramInfoWindow *programInfo = info::showProgramInfo();
    QCOMPARE(programInfo->objectName(), QStringLiteral("frmProgramInfo"));
    QCOMPARE(programInfo->windowTitle(), QStringLiteral("Program Information"));
    QCOMPARE(programInfo->size(), platform::twipsSize(4695, 3495));
    QCOMPARE(programInfo->minimumSize(), programInfo->maximumSize());
    QCOMPARE(programInfo->windowType(), Qt::Dialog);
    QVERIFY(!(programInfo->windowFlags()
              & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                 | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!programInfo->windowIcon().isNull());
    QVERIFY(programInfo->parentWidget() == nullptr);
    QVERIFY(about->parentWidget() == nullptr);
    QVERIFY(QTest::qWaitForWindowActive(programInfo));
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(programInfo, "txtProgramInfo"));
}

QTEST_MAIN(TestInfo)
#include "tst_info.moc"
