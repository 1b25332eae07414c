#include <support/testappfolder.h>

#include <gui/dialogs/reportswindow.h>
#include <gui/platform/fonts.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <gui/platform/twips.h>
#include <gui/platform/windowslot.h>
#include <gui/report/reportviewer.h>
#include <report/report.h>

#include <QAccessible>
#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What happened, in order: the window's state at each step of a report run.
struct RunLog
{
    QStringList events;
    QPointer<QWidget> window;

    QString windowState() const
    {
        return window && window->isVisible() ? QStringLiteral("window open")
                                             : QStringLiteral("window closed");
    }
};

class FakeReportControl final : public reportengine::ReportControl
{
public:
    explicit FakeReportControl(RunLog *log)
        : m_log(log)
    {}
    void setReportFileName(const QString &path) override
    {
        m_log->events << QStringLiteral("file %1 (was \"%2\")").arg(path, m_file);
        m_file = path;
    }
    QString reportFileName() const override { return m_file; }
    Result<void> run() override
    {
        m_log->events << QStringLiteral("run %1, %2").arg(m_file, m_log->windowState());
        return {};
    }

private:
    RunLog *m_log;
    QString m_file;
};

const QString reportsTitle = QStringLiteral("Pelmora - Reports");
using Style = ReportsWindow::ReportStyle;

} // namespace

class TestReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void layout();
    void openingSelectsPhoneListing();
    void optionShowsItsDescription_data();
    void optionShowsItsDescription();
    void viewReportClosesThenRuns_data();
    void viewReportClosesThenRuns();
    void reportFileIsBesideTheExecutable();
    void mailingLabelsOnlySaysSo();
    void noOptionSelected();
    void eachRunStartsFresh();
    void nextOpeningStartsFromTheLayout();
    void closeShowsTheMainWindow();
    void realEngineReportsAMissingDefinition();
    void realEngineShowsTheReport();

private:
    ReportsWindow *open();
    QRadioButton *option(const char *name)
    {
        return m_window->findChild<QRadioButton *>(QLatin1String(name));
    }
    QString description()
    {
        return m_window->findChild<QLabel *>(QStringLiteral("lblDescription"))->text();
    }

    std::unique_ptr<TestAppFolder> m_folder;
    std::unique_ptr<platform::ScriptedMessageBoxes> m_boxes;
    RunLog m_log;
    int m_mainWindowShown = 0;
    platform::WindowSlot<ReportsWindow> m_slot;
    QPointer<ReportsWindow> m_window;
};

void TestReports::initTestCase()
{
    platform::installFontSubstitutions();
}

void TestReports::init()
{
    m_folder = std::make_unique<TestAppFolder>();
    m_boxes = std::make_unique<platform::ScriptedMessageBoxes>();
    m_log = {};
    m_mainWindowShown = 0;
}

void TestReports::cleanup()
{
    m_slot.close();
    reportui::closeAllReportViewers();
    QTRY_VERIFY(reportui::openReportViewers().isEmpty());
    m_boxes.reset();
    m_folder.reset();
}

ReportsWindow *TestReports::open()
{
    m_window = m_slot.show([this] {
        return new ReportsWindow([this] { ++m_mainWindowShown; },
                                 [this] {
                                     m_log.events << QStringLiteral("new control");
                                     return std::make_unique<FakeReportControl>(&m_log);
                                 });
    });
    m_log.window = m_window;
    return m_window;
}

void TestReports::layout()
{
    open();
    QCOMPARE(m_window->objectName(), QStringLiteral("frmReports"));
    QCOMPARE(m_window->windowTitle(), reportsTitle);
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(
        !(flags
          & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint)));
    QVERIFY(!m_window->parentWidget());
    QCOMPARE(m_window->size(), platform::twipsSize(5295, 4515));
    QCOMPARE(m_window->font().family(), platform::msSansSerif(8.25).family());

    for (const platform::LayoutControl &control : ReportsWindow::layout()) {
        QWidget *w = m_window->findChild<QWidget *>(QLatin1String(control.name));
        QVERIFY2(w, control.name);
        QCOMPARE(w->geometry(), control.rect);
        // Every control has a name for the screen reader; a label's is the text it shows.
        QVERIFY2(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty(),
                 control.name);
        QString text;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            text = label->text();
            QCOMPARE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name), text);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            text = button->text();
        } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
            text = box->title();
        }
        // Opening selects Phone Listing, which lblDescription then describes.
        const bool describes = qstrcmp(control.name, "lblDescription") == 0;
        QCOMPARE(text, describes ? ReportsWindow::description(Style::Phone)
                                 : QString::fromLatin1(control.text));
    }
    QCOMPARE(option("optPhone")->parentWidget()->objectName(), QStringLiteral("Frame1"));
    for (const char *name : {"cmdViewReport", "cmdClose"}) {
        auto *button = m_window->findChild<QPushButton *>(QLatin1String(name));
        QVERIFY(!button->isDefault() && !button->autoDefault());
    }
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("Label1"))->focusPolicy(), Qt::NoFocus);

    // Tab order: the four options top to bottom but Email before Mailing, then the buttons.
    const QStringList order
        = {"optPhone", "optAddress", "optEmail", "optMailing", "cmdViewReport", "cmdClose"};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget *w = m_window->findChild<QWidget *>(order.at(i));
        QWidget *next = w->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        QCOMPARE(next->objectName(), order.at(i + 1));
    }
}

void TestReports::openingSelectsPhoneListing()
{
    open();
    QVERIFY(option("optPhone")->isChecked());
    QVERIFY(!option("optAddress")->isChecked() && !option("optEmail")->isChecked()
            && !option("optMailing")->isChecked());
    QCOMPARE(description(), ReportsWindow::description(Style::Phone));
    QCOMPARE(m_window->focusWidget(), option("optPhone"));

    // View Report straight away runs the phone listing.
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QCOMPARE(m_log.events.value(2), QStringLiteral("run %1, window closed")
                                        .arg(m_folder->file(QStringLiteral("phonelist.rpt"))));
}

void TestReports::optionShowsItsDescription_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("phone") << "optPhone" << ReportsWindow::description(Style::Phone);
    QTest::newRow("address") << "optAddress" << ReportsWindow::description(Style::Address);
    QTest::newRow("email") << "optEmail" << ReportsWindow::description(Style::Email);
    QTest::newRow("mailing") << "optMailing" << ReportsWindow::description(Style::Mailing);
}

void TestReports::optionShowsItsDescription()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    open();
    // Start from another option so a change is seen.
    QTest::mouseClick(option(name == QLatin1String("optEmail") ? "optAddress" : "optEmail"),
                      Qt::LeftButton);
    QTest::mouseClick(option(qPrintable(name)), Qt::LeftButton);
    QVERIFY(option(qPrintable(name))->isChecked());
    QCOMPARE(description(), text);
    QVERIFY(text.contains(QStringLiteral(".  This report")));
    QCOMPARE(m_boxes->count(), 0);
}

void TestReports::viewReportClosesThenRuns_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("file");
    QTest::newRow("phone") << QStringList{"optPhone"} << "phonelist.rpt";
    QTest::newRow("address") << QStringList{"optAddress"} << "addresslist.rpt";
    QTest::newRow("email") << QStringList{"optEmail"} << "emaillist.rpt";
    QTest::newRow("email then address")
        << QStringList{"optEmail", "optAddress"} << "addresslist.rpt";
    QTest::newRow("mailing then phone") << QStringList{"optMailing", "optPhone"} << "phonelist.rpt";
}

void TestReports::viewReportClosesThenRuns()
{
    QFETCH(QStringList, clicks);
    QFETCH(QString, file);
    open();
    for (const QString &name : clicks)
        QTest::mouseClick(option(qPrintable(name)), Qt::LeftButton);
    const QPointer<ReportsWindow> window = m_window;
    window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    const QString path = m_folder->file(file);
    QCOMPARE(m_log.events, (QStringList{QStringLiteral("new control"),
                                        QStringLiteral("file %1 (was \"\")").arg(path),
                                        QStringLiteral("run %1, window closed").arg(path)}));
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(m_mainWindowShown, 0);
    QVERIFY(!m_slot.isLoaded());
    QTRY_VERIFY(window.isNull()); // unloaded
}

void TestReports::reportFileIsBesideTheExecutable()
{
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    QVERIFY(m_folder->writeFile(QStringLiteral("Program Data/phonelist.rpt"), "{}"));
    open();
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QDir::setCurrent(previous);
    QCOMPARE(m_log.events.value(2),
             QStringLiteral("run %1/phonelist.rpt, window closed").arg(m_folder->path()));
}

void TestReports::mailingLabelsOnlySaysSo()
{
    open();
    QTest::mouseClick(option("optMailing"), Qt::LeftButton);
    QCOMPARE(description(), ReportsWindow::description(Style::Mailing));
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().title, reportsTitle);
    QCOMPARE(m_boxes->last().text, QStringLiteral("Working on this section now."));
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Information);
    QCOMPARE(m_boxes->last().buttons, platform::MessageButtons::Ok);
    QVERIFY(m_log.events.isEmpty());
    QVERIFY(m_window->isVisible());
    QVERIFY(option("optMailing")->isChecked());
    QCOMPARE(description(), ReportsWindow::description(Style::Mailing));
}

void TestReports::noOptionSelected()
{
    open();
    // The options' group is exclusive; the only way to none is to lift that for a moment.
    QButtonGroup *group = option("optPhone")->group();
    QVERIFY(group);
    group->setExclusive(false);
    for (const char *name : {"optPhone", "optAddress", "optEmail", "optMailing"})
        option(name)->setChecked(false);
    group->setExclusive(true);
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().title, reportsTitle);
    QCOMPARE(m_boxes->last().text,
             QStringLiteral("Please Select the Style of Report you would like."));
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Information);
    QVERIFY(m_log.events.isEmpty());
    QVERIFY(m_window->isVisible());
}

void TestReports::eachRunStartsFresh()
{
    open();
    QTest::mouseClick(option("optEmail"), Qt::LeftButton);
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QTRY_VERIFY(m_window.isNull());
    open();
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    const QString email = m_folder->file(QStringLiteral("emaillist.rpt"));
    const QString phone = m_folder->file(QStringLiteral("phonelist.rpt"));
    QCOMPARE(
        m_log.events,
        (QStringList{QStringLiteral("new control"), QStringLiteral("file %1 (was \"\")").arg(email),
                     QStringLiteral("run %1, window closed").arg(email),
                     QStringLiteral("new control"), QStringLiteral("file %1 (was \"\")").arg(phone),
                     QStringLiteral("run %1, window closed").arg(phone)}));
}

void TestReports::nextOpeningStartsFromTheLayout()
{
    open();
    QTest::mouseClick(option("optAddress"), Qt::LeftButton);
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QTRY_VERIFY(m_window.isNull());
    open();
    QVERIFY(option("optPhone")->isChecked());
    QVERIFY(!option("optAddress")->isChecked());
    QCOMPARE(description(), ReportsWindow::description(Style::Phone));

    // Showing it while open only brings it to the front, keeping its state.
    QTest::mouseClick(option("optEmail"), Qt::LeftButton);
    ReportsWindow *same = m_window;
    open();
    QCOMPARE(m_window.data(), same);
    QVERIFY(option("optEmail")->isChecked());
}

void TestReports::closeShowsTheMainWindow()
{
    open();
    QTest::mouseClick(option("optEmail"), Qt::LeftButton);
    m_window->findChild<QPushButton *>(QStringLiteral("cmdClose"))->click();
    QCOMPARE(m_mainWindowShown, 1);
    QVERIFY(m_log.events.isEmpty());
    QVERIFY(!m_slot.isLoaded());
    QTRY_VERIFY(m_window.isNull());
}

void TestReports::realEngineReportsAMissingDefinition()
{
    QVERIFY(m_folder->createDemoDatabase(5));
    m_window = m_slot.show([this] { return new ReportsWindow([this] { ++m_mainWindowShown; }); });
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->last().icon, platform::MessageIcon::Critical);
    QVERIFY2(m_boxes->last().text.contains(m_folder->file(QStringLiteral("phonelist.rpt"))),
             qPrintable(m_boxes->last().text));
    QVERIFY(reportui::openReportViewers().isEmpty());
    QTRY_VERIFY(m_window.isNull());
}

void TestReports::realEngineShowsTheReport()
{
    QVERIFY(m_folder->createDemoDatabase(20));
    QFile definition(QStringLiteral(PELMORA_SOURCE_DIR "/data/addresslist.rpt"));
    QVERIFY(definition.open(QIODevice::ReadOnly));
    QVERIFY(m_folder->writeFile(QStringLiteral("addresslist.rpt"), definition.readAll()));
    m_window = m_slot.show([this] { return new ReportsWindow([this] { ++m_mainWindowShown; }); });
    QTest::mouseClick(option("optAddress"), Qt::LeftButton);
    m_window->findChild<QPushButton *>(QStringLiteral("cmdViewReport"))->click();
    QCOMPARE(m_boxes->count(), 0);
    QTRY_COMPARE(reportui::openReportViewers().size(), 1);
    reportui::ReportViewer *viewer = reportui::openReportViewers().first();
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Address Listing"));
    QCOMPARE(viewer->report().rowCount(), 20);
    QVERIFY(!viewer->parentWidget());
    QTRY_VERIFY(m_window.isNull()); // the viewer does not live in the closed window
    QVERIFY(viewer->isVisible());
}

QTEST_MAIN(TestReports)
#include "tst_reports.moc"
