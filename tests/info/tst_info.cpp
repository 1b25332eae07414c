#include <support/testappfolder.h>

#include <info/frmabout.h>
#include <info/frmprograminfo.h>
#include <platform/programexit.h>
#include <platform/scriptedmessageboxes.h>
#include <platform/twips.h>
#include <platform/windowslot.h>
#include <settings/settingsfiles.h>

#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {

const QString infoFile = QStringLiteral("Program Data/ProgramInfo.txt");

template<typename T>
T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

QPlainTextEdit *textBox(FrmProgramInfo *window)
{
    return child<QPlainTextEdit>(window, "txtProgramInfo");
}

QString shownText()
{
    FrmProgramInfo *window = info::programInfoWindow();
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
    void aboutLayout_data();
    void aboutLayout();
    void programInfoLayout_data();
    void programInfoLayout();
    void windows();

private:
    platform::WindowSlot<FrmAbout> m_about;
};

void TestInfo::cleanup()
{
    QPointer<FrmProgramInfo> programInfo = info::programInfoWindow();
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
    FrmProgramInfo *window = info::showProgramInfo();
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
    FrmAbout *about = m_about.show([&] { return new FrmAbout(mainWindow.function()); });
    auto *button = child<QPushButton>(about, "cmdProgramInfo");

    button->click();
    FrmProgramInfo *first = info::programInfoWindow();
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
    QPointer<FrmProgramInfo> closed = first;
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
        FrmAbout *about = m_about.show([&] { return new FrmAbout(mainWindow.function()); });
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
    QPointer<FrmAbout> about = m_about.show([&] { return new FrmAbout(mainWindow.function()); });
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

void TestInfo::aboutLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips"); // width 0: the label is sized to its text
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QColor>("colour"); // invalid: the window's text colour

    const QColor black(Qt::black);
    const QColor blue(Qt::blue);
    QTest::newRow("lblTitle") << "lblTitle"
                              << "frmAbout"
                              << "Pelmora" << QRect(1560, 120, 4455, 480) << 18.0 << true << black;
    QTest::newRow("lblVersion") << "lblVersion"
                                << "frmAbout"
                                << "Version 3.0.0" << QRect(1560, 600, 4095, 345) << 9.75 << true
                                << QColor();
    QTest::newRow("lblDescription")
        << "lblDescription"
        << "frmAbout"
        << "This program is designed with a database to keep your contacts records.  Easy to use "
           "program for any computer user."
        << QRect(1560, 960, 4095, 675) << 8.25 << true << black;
    QTest::newRow("Label2") << "Label2"
                            << "frmAbout"
                            << "Programmed by the Pelmora developers" << QRect(1560, 1560, 0, 0)
                            << 8.25 << true << QColor();
    QTest::newRow("Label4") << "Label4"
                            << "frmAbout"
                            << "Created: July 21, 2007" << QRect(1560, 1800, 0, 0) << 8.25 << true
                            << QColor();
    QTest::newRow("Label5") << "Label5"
                            << "frmAbout"
                            << "This program is Designed for Windows 2000 and XP Systems."
                            << QRect(720, 2040, 5055, 495) << 8.25 << true << QColor();
    QTest::newRow("Label1") << "Label1"
                            << "frmAbout"
                            << "Built with C++, Qt 6 and SQLite." << QRect(720, 2640, 5055, 495)
                            << 8.25 << true << QColor();
    QTest::newRow("Frame1") << "Frame1"
                            << "frmAbout"
                            << "" << QRect(120, 3120, 5895, 1335) << 8.25 << false << QColor();
    QTest::newRow("Label6") << "Label6"
                            << "Frame1"
                            << "Pelmora Software" << QRect(120, 840, 0, 0) << 8.25 << true << black;
    QTest::newRow("Label3") << "Label3"
                            << "Frame1"
                            << "Write to us: pelmora@example.org" << QRect(120, 1095, 0, 0) << 8.25
                            << false << blue;
    QTest::newRow("cmdOK") << "cmdOK"
                           << "frmAbout"
                           << "OK" << QRect(4440, 3360, 1467, 345) << 8.25 << false << QColor();
    QTest::newRow("cmdProgramInfo")
        << "cmdProgramInfo"
        << "frmAbout"
        << "&Program Info" << QRect(4440, 3840, 1467, 345) << 8.25 << false << QColor();
    QTest::newRow("Image1") << "Image1"
                            << "frmAbout"
                            << "" << QRect(120, 120, 1320, 1320) << 8.25 << false << QColor();
    QTest::newRow("Image3") << "Image3"
                            << "frmAbout"
                            << "" << QRect(120, 1920, 480, 480) << 8.25 << false << QColor();
}

// Checks one control's place, text, font and colour.
static void checkControl(QWidget *window,
                         const QString &name,
                         const QString &container,
                         const QString &text,
                         const QRect &twips,
                         qreal points,
                         bool bold,
                         const QColor &colour)
{
    auto *control = window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), container);
    if (twips.width() == 0) {
        QCOMPARE(control->pos(), QPoint(platform::twips(twips.x()), platform::twips(twips.y())));
        QCOMPARE(control->size(), control->sizeHint());
    } else {
        QCOMPARE(control->geometry(),
                 platform::twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    }
    QString shown;
    if (auto *label = qobject_cast<QLabel *>(control))
        shown = label->pixmap().isNull() ? label->text() : QString();
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        shown = button->text();
    else if (auto *frame = qobject_cast<QGroupBox *>(control))
        shown = frame->title();
    QCOMPARE(shown, text);
    QCOMPARE(control->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(control->font().pointSizeF(), points);
    QCOMPARE(control->font().bold(), bold);
    const QColor expected
        = colour.isValid() ? colour : window->palette().color(QPalette::WindowText);
    QCOMPARE(control->palette().color(QPalette::WindowText), expected);
    QVERIFY(!control->accessibleName().isEmpty());
}

void TestInfo::aboutLayout()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(QColor, colour);

    FrmAbout about({});
    checkControl(&about, name, container, text, twips, points, bold, colour);
    if (name.startsWith(QLatin1String("Image")))
        QVERIFY(!qobject_cast<QLabel *>(about.findChild<QWidget *>(name))->pixmap().isNull());
}

void TestInfo::programInfoLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("Image3") << "Image3"
                            << "frmProgramInfo"
                            << "" << QRect(120, 120, 480, 480);
    QTest::newRow("Frame1") << "Frame1"
                            << "frmProgramInfo"
                            << "Program Information" << QRect(720, 120, 3855, 1335);
    QTest::newRow("txtProgramInfo") << "txtProgramInfo"
                                    << "Frame1"
                                    << "" << QRect(120, 240, 3615, 975);
    QTest::newRow("cmdClose") << "cmdClose"
                              << "frmProgramInfo"
                              << "&Close" << QRect(3720, 3000, 855, 375);
}

void TestInfo::programInfoLayout()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(QRect, twips);

    FrmProgramInfo window;
    checkControl(&window, name, container, text, twips, 8.25, false, QColor());
}

void TestInfo::windows()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(infoFile, "text"));
    platform::ScriptedMessageBoxes boxes;

    FrmAbout *about = m_about.show([] { return new FrmAbout({}); });
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

    FrmProgramInfo *programInfo = info::showProgramInfo();
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
