// The keyboard and the screen reader across the windows: option groups, Enter on command
// buttons and the names labels give, driven with real key events on active windows.

#include <support/testappfolder.h>

#include <app/splashwindow.h>
#include <gui/dialogs/aboutdialog.h>
#include <gui/dialogs/programinfowindow.h>
#include <gui/dialogs/reportswindow.h>
#include <gui/dialogs/searchdialog.h>
#include <gui/dialogs/sortoptionsdialog.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <gui/platform/windowslot.h>

#include <QAccessible>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

namespace {

class FakeReportControl final : public reportengine::ReportControl
{
public:
    explicit FakeReportControl(QStringList *events)
        : m_events(events)
    {}
    void setReportFileName(const QString &path) override { m_file = path; }
    QString reportFileName() const override { return m_file; }
    Result<void> run() override
    {
        *m_events << QStringLiteral("run ") + QFileInfo(m_file).fileName();
        return {};
    }

private:
    QStringList *m_events;
    QString m_file;
};

// The text lblDescription shows for an option ("" for the text at opening), from the
// window's own table of controls.
QString description(const QString &window, const QString &option)
{
    std::span<const platform::LayoutControl> layout;
    if (window == QLatin1String("sort"))
        layout = SortOptionsDialog::layout();
    else if (window == QLatin1String("search"))
        layout = SearchDialog::layout();
    else if (window == QLatin1String("reports"))
        layout = ReportsWindow::layout();
    const QString name = option.isEmpty() ? QStringLiteral("lblDescription") : option;
    for (const platform::LayoutControl &control : layout) {
        if (QLatin1String(control.name) == name) {
            return QString::fromLatin1(option.isEmpty() ? control.text : control.description);
        }
    }
    return QStringLiteral("<no such text>");
}

// "Tab Backtab Up Down Left Right Space Enter Return Escape": Enter is the keypad's.
void pressKeys(const QString &keys)
{
    static const QHash<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> named{
        {"Tab", {Qt::Key_Tab, Qt::NoModifier}},
        {"Backtab", {Qt::Key_Backtab, Qt::ShiftModifier}},
        {"Up", {Qt::Key_Up, Qt::NoModifier}},
        {"Down", {Qt::Key_Down, Qt::NoModifier}},
        {"Left", {Qt::Key_Left, Qt::NoModifier}},
        {"Right", {Qt::Key_Right, Qt::NoModifier}},
        {"Space", {Qt::Key_Space, Qt::NoModifier}},
        {"Enter", {Qt::Key_Enter, Qt::KeypadModifier}},
        {"Return", {Qt::Key_Return, Qt::NoModifier}},
        {"Escape", {Qt::Key_Escape, Qt::NoModifier}},
    };
    for (const QString &key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QVERIFY2(named.contains(key), qPrintable(key));
        QWidget *focus = QApplication::focusWidget();
        QVERIFY2(focus, qPrintable(QStringLiteral("no focus for %1").arg(key)));
        QTest::keyClick(focus, named[key].first, named[key].second);
    }
}

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keys_data();
    void keys();
    void labelsNameTheirText_data();
    void labelsNameTheirText();

private:
    QWidget *open(const QString &window);

    std::unique_ptr<TestAppFolder> m_folder;
    std::unique_ptr<platform::ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<MainWindow> m_main;
    QStringList m_events;
    platform::WindowSlot<SortOptionsDialog> m_sort;
    platform::WindowSlot<ReportsWindow> m_reports;
    platform::WindowSlot<AboutDialog> m_about;
    QPointer<SearchDialog> m_search;
};

void TestKeyboard::init()
{
    m_folder = std::make_unique<TestAppFolder>();
    QVERIFY(m_folder->createDatabase({makeContact("1", "Adams", "Ann")}));
    QVERIFY(m_folder->writeFile(QStringLiteral("Program Data/ProgramInfo.txt"), "Pelmora 3"));
    m_boxes = std::make_unique<platform::ScriptedMessageBoxes>();
    m_boxes->setDuringBox([this](const platform::MessageRequest &box) {
        m_events << QStringLiteral("box: ") + box.text;
    });
    m_events.clear();
    m_main = std::make_unique<MainWindow>();
    QVERIFY(m_main->load());
}

void TestKeyboard::cleanup()
{
    QPointer<QWidget> programInfo = info::programInfoWindow();
    if (programInfo)
        programInfo->close();
    m_sort.close();
    m_reports.close();
    m_about.close();
    if (m_search)
        m_search->close();
    QTRY_VERIFY(!programInfo && !m_search && !m_sort.window() && !m_reports.window()
                && !m_about.window());
    m_main.reset();
    m_boxes.reset();
    m_folder.reset();
}

QWidget *TestKeyboard::open(const QString &window)
{
    const auto mainWindowShown = [this] {
        m_events << QStringLiteral("main window");
    };
    if (window == QLatin1String("sort"))
        return m_sort.show([] { return new SortOptionsDialog; });
    if (window == QLatin1String("reports")) {
        return m_reports.show([this, mainWindowShown] {
            return new ReportsWindow(
                mainWindowShown, [this] { return std::make_unique<FakeReportControl>(&m_events); });
        });
    }
    if (window == QLatin1String("about"))
        return m_about.show([mainWindowShown] { return new AboutDialog(mainWindowShown); });
    if (window == QLatin1String("programInfo"))
        return info::showProgramInfo();
    if (window == QLatin1String("search")) {
        m_search = new SearchDialog(m_main->dbData1(), m_main->storeFailureReporter());
        m_search->setAttribute(Qt::WA_DeleteOnClose);
        m_search->show();
        m_search->activateWindow();
        return m_search;
    }
    return nullptr;
}

void TestKeyboard::keys_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("keys");      // pressed on whatever has the focus
    QTest::addColumn<QString>("focus");     // the window's focus widget afterwards
    QTest::addColumn<QString>("selected");  // the selected option afterwards
    QTest::addColumn<QString>("describes"); // lblDescription shows this option's text
    QTest::addColumn<QStringList>("effects");

    const QString saved = QStringLiteral("box: Your Sort Type has been Saved. This setting will "
                                         "be updated when you restart the program.");
    const auto row
        = [](const char *name, const char *window, const char *keys, const char *focus,
             const char *selected, const char *describes, const QStringList &effects = {}) {
              QTest::newRow(name) << window << keys << focus << selected << describes << effects;
          };

    // Sort: the focus starts on Close; Close, Save, then the group.
    row("sort: Tab enters the group at the selection", "sort", "Tab Tab", "optLast", "optLast",
        "optLast");
    row("sort: Shift+Tab enters at the selection", "sort", "Backtab", "optLast", "optLast",
        "optLast");
    row("sort: Space keeps the choice", "sort", "Tab Tab Space", "optLast", "optLast", "optLast");
    row("sort: Down selects", "sort", "Backtab Down", "optFirst", "optFirst", "optFirst");
    row("sort: Up at the top stays", "sort", "Backtab Up", "optLast", "optLast", "optLast");
    row("sort: Tab leaves, comes back at the new selection", "sort",
        "Backtab Down Down Tab Tab Tab", "optId", "optId", "optId");
    row("sort: Enter in the group does nothing", "sort", "Backtab Down Enter", "optFirst",
        "optFirst", "optFirst");
    row("sort: Return on Save saves", "sort", "Backtab Down Tab Tab Return", "cmdSave", "optFirst",
        "optFirst", {saved});
    row("sort: Enter on Close closes", "sort", "Enter", "", "", "", {"closed"});
    row("sort: Escape does nothing", "sort", "Escape", "cmdClose", "optLast", "optLast");

    // Search: the typing cursor starts in the text box; the group comes next.
    row("search: Tab enters the group at the selection", "search", "Tab", "optLast", "optLast", "");
    row("search: Space keeps the choice, runs its Click", "search", "Tab Space", "optLast",
        "optLast", "optLast");
    row("search: Down selects", "search", "Tab Down", "optFirst", "optFirst", "optFirst");
    row("search: Down to the last option", "search", "Tab Down Down Down Down", "optWork",
        "optWork", "optWork");
    row("search: Tab leaves the group", "search", "Tab Tab", "cmdSearch", "optLast", "");
    row("search: Shift+Tab comes back at the new selection", "search", "Tab Down Down Tab Backtab",
        "optNick", "optNick", "optNick");
    row("search: Enter in the text box does nothing", "search", "Enter", "txtSearch", "optLast",
        "");
    row("search: Enter on Search searches", "search", "Tab Down Tab Enter", "cmdSearch", "optFirst",
        "optFirst", {"box: No Match"});
    row("search: Return on Close closes", "search", "Tab Tab Tab Return", "", "", "", {"closed"});
    row("search: Escape does nothing", "search", "Escape", "txtSearch", "optLast", "");

    // Reports: the first option takes the focus at opening, which selects it.
    row("reports: opening selects Phone Listing", "reports", "", "optPhone", "optPhone",
        "optPhone");
    row("reports: Down selects", "reports", "Down", "optAddress", "optAddress", "optAddress");
    row("reports: Up selects", "reports", "Down Down Up", "optAddress", "optAddress", "optAddress");
    row("reports: Space keeps the choice", "reports", "Down Space", "optAddress", "optAddress",
        "optAddress");
    row("reports: Tab leaves the group", "reports", "Down Tab", "cmdViewReport", "optAddress",
        "optAddress");
    row("reports: Tab comes back at the selection", "reports", "Down Down Tab Tab Tab", "optEmail",
        "optEmail", "optEmail");
    row("reports: Shift+Tab comes back at the selection", "reports", "Down Down Down Tab Backtab",
        "optMailing", "optMailing", "optMailing");
    row("reports: Enter in the group does nothing", "reports", "Down Enter", "optAddress",
        "optAddress", "optAddress");
    row("reports: Enter on View Report runs the report", "reports", "Down Down Tab Enter", "", "",
        "", {"run emaillist.rpt", "closed"});
    row("reports: Return on View Report, Mailing Labels", "reports", "Down Down Down Tab Return",
        "cmdViewReport", "optMailing", "optMailing", {"box: Working on this section now."});
    row("reports: Return on Close closes", "reports", "Tab Tab Return", "", "", "",
        {"main window", "closed"});
    row("reports: Escape does nothing", "reports", "Escape", "optPhone", "optPhone", "optPhone");

    // About and Program Information: command buttons only.
    row("about: Enter on Program Info opens it", "about", "Enter", "cmdProgramInfo", "", "",
        {"program information open"});
    row("about: Return on OK closes", "about", "Tab Return", "", "", "", {"main window", "closed"});
    row("about: Escape does nothing", "about", "Escape", "cmdProgramInfo", "", "");
    row("programInfo: Enter in the text does nothing", "programInfo", "Enter", "txtProgramInfo", "",
        "");
    row("programInfo: Enter on Close closes", "programInfo", "Tab Enter", "", "", "", {"closed"});
}

void TestKeyboard::keys()
{
    QFETCH(QString, window);
    QFETCH(QString, keys);
    QFETCH(QString, focus);
    QFETCH(QString, selected);
    QFETCH(QString, describes);
    QFETCH(QStringList, effects);

    const QPointer<QWidget> shown = open(window);
    QVERIFY(shown);
    QVERIFY(QTest::qWaitForWindowActive(shown));
    pressKeys(keys);
    if (QTest::currentTestFailed())
        return;

    const bool stillOpen = shown && shown->isVisible();
    if (!stillOpen)
        m_events << QStringLiteral("closed");
    else if (window != QLatin1String("programInfo") && info::programInfoWindow())
        m_events << QStringLiteral("program information open");
    QCOMPARE(m_events, effects);
    if (!stillOpen)
        return;

    QCOMPARE(shown->focusWidget() ? shown->focusWidget()->objectName() : QString(), focus);
    QString checked;
    for (QRadioButton *option : shown->findChildren<QRadioButton *>()) {
        if (option->isChecked())
            checked = option->objectName();
    }
    QCOMPARE(checked, selected);
    if (window == QLatin1String("sort") || window == QLatin1String("search")
        || window == QLatin1String("reports")) {
        auto *label = shown->findChild<QLabel *>(QStringLiteral("lblDescription"));
        QCOMPARE(label->text(), description(window, describes));
        QCOMPARE(accessibleName(label), label->text());
    }
}

void TestKeyboard::labelsNameTheirText_data()
{
    QTest::addColumn<QString>("window");
    for (const char *window : {"about", "sort", "search", "reports", "splash", "status bar"})
        QTest::newRow(window) << window;
}

// A label's accessible name is the text it shows, now and after the text changes.
void TestKeyboard::labelsNameTheirText()
{
    QFETCH(QString, window);
    std::unique_ptr<SplashWindow> splash;
    QWidget *root = nullptr;
    if (window == QLatin1String("splash")) {
        splash = std::make_unique<SplashWindow>();
        root = splash.get();
    } else if (window == QLatin1String("status bar")) {
        root = m_main->findChild<QStatusBar *>(QStringLiteral("StatusBar1"));
    } else {
        root = open(window);
    }
    QVERIFY(root);

    int named = 0;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue; // a picture, or an empty status bar panel
        const QString name = label->objectName();
        QCOMPARE(accessibleName(label), label->text());
        label->setText(label->text() + QStringLiteral(" (changed)"));
        QVERIFY2(accessibleName(label).endsWith(QStringLiteral(" (changed)")), qPrintable(name));
        ++named;
    }
    QVERIFY(named > 0);
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
