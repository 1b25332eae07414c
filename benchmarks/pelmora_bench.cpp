// pelmora_bench: the in-process benchmark harness. It links Pelmora's libraries and drives the
// real windows (the main window through its toolbar dispatch, the search dialog through its
// Search button) on a copy of a demo database. Figures go to stdout as tab-separated lines:
//   figure <records> <name> <median ms> <floor median ms or -> <runs>
//   memory <records> <what> <VmHWM KiB> <VmRSS KiB>
// Usage:
//   pelmora_bench mark <database>                 give the last record unique search values
//   pelmora_bench store <database> [runs] [walk runs] [only figures containing this text]
//   pelmora_bench memory <database>
//   pelmora_bench report <database> [runs]
//   pelmora_bench splash <database> [runs]
#include "benchfolder.h"
#include "pdftable.h"
#include "peakmemory.h"
#include "samples.h"
#include "searchtarget.h"
#include "sqlitefloor.h"

#include <app/splashwindow.h>
#include <app/windows.h>
#include <core/contacts/contactstore.h>
#include <core/files/apppath.h>
#include <gui/dialogs/searchdialog.h>
#include <gui/mainwindow/contactlistmodel.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/fonts.h>
#include <gui/platform/programexit.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <gui/report/reportviewer.h>
#include <gui/report/viewerreportcontrol.h>
#include <report/report.h>
#include <report/reportdefinition.h>
#include <report/reportexport.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTableView>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QString recordSource = QStringLiteral("select * from contactsdb order by lastname asc");

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "pelmora_bench: %s\n", qPrintable(message));
    std::fflush(stdout);
    std::_Exit(1);
}

void printFigure(int records, const char *name, const Samples &measured, const Samples &floor)
{
    std::printf("figure\t%d\t%s\t%.3f\t", records, name, measured.median());
    if (floor.isEmpty())
        std::printf("-");
    else
        std::printf("%.3f", floor.median());
    std::printf("\t%d\n", measured.count());
    std::fflush(stdout);
}

void printMemory(int records, const QString &what)
{
    std::printf("memory\t%d\t%s\t%lld\t%lld\n", records, qPrintable(what),
                bench::procStatusKiB(QStringLiteral("VmHWM")),
                bench::procStatusKiB(QStringLiteral("VmRSS")));
    std::fflush(stdout);
}

// Runs what the event loop has pending: deferred layouts, repaints, deletions.
void drain()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Notes when a widget has been painted: the first record counts as shown once the last-name
// field holding it has been drawn.
class PaintProbe final : public QObject
{
public:
    explicit PaintProbe(QWidget *widget) { widget->installEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

void waitUntilPainted(const PaintProbe &probe)
{
    QDeadlineTimer deadline(30000);
    while (!probe.painted) {
        if (deadline.hasExpired())
            die(QStringLiteral("the main window was never painted"));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

class StoreBench
{
public:
    StoreBench(const QString &database, int runs, int walkRuns, const QString &only)
        : m_folder(database)
        , m_runs(runs)
        , m_walkRuns(walkRuns)
        , m_only(only)
    {
        if (!m_folder.isValid())
            die(m_folder.error());
        files::setAppPathForTesting(m_folder.path());
    }

    void run()
    {
        m_records = recordsInTable();
        openStoreAlone();
        openWindow();
        refresh();
        requery();
        deleteAndRefresh();
        gridFarRow();
        search();
        nextWalk();
        previousWalk();
        m_window.reset();
    }

private:
    double floor()
    {
        const double ms = bench::readStatementInFull(m_folder.databasePath(), recordSource);
        if (ms < 0)
            die(QStringLiteral("the floor could not be read"));
        return ms;
    }

    int recordsInTable()
    {
        int rows = 0;
        if (bench::readStatementInFull(m_folder.databasePath(), recordSource, &rows) < 0)
            die(QStringLiteral("cannot read ") + m_folder.databasePath());
        return rows;
    }

    // Each run: the floor, then the untimed setup, then the timed action with what the event
    // loop has pending afterwards (the repaint the user waits for).
    void measure(const char *name,
                 int runs,
                 const std::function<void()> &setup,
                 const std::function<void()> &action,
                 const std::function<void()> &check = {})
    {
        // The window must be open for the others; a profile can ask for one figure alone.
        const bool wanted = m_only.isEmpty() || QLatin1String(name).contains(m_only);
        if (!wanted && !QLatin1String(name).startsWith(QLatin1String("open: load")))
            return;
        if (!wanted)
            runs = 1;
        Samples measured;
        Samples floorTimes;
        for (int i = 0; i < runs; ++i) {
            floorTimes.add(floor());
            setup();
            m_boxes.clear();
            QElapsedTimer timer;
            timer.start();
            action();
            drain();
            measured.add(elapsedMs(timer));
            for (const platform::MessageRequest &box : m_boxes.shown()) {
                // Questions are answered by the script; a lone critical box reports a failure.
                if (box.icon == platform::MessageIcon::Critical
                    && box.buttons == platform::MessageButtons::Ok)
                    die(QStringLiteral("%1: unexpected message: %2").arg(name, box.text));
            }
            if (check)
                check();
        }
        if (wanted)
            printFigure(m_records, name, measured, floorTimes);
    }

    ContactStore &store() { return m_window->dbData1(); }
    QTableView *grid() { return m_window->findChild<QTableView *>(QStringLiteral("DBGrid1")); }

    void expectRow(const char *name, int row)
    {
        if (store().currentRow() != row)
            die(QStringLiteral("%1: row %2 is current, not %3")
                    .arg(QLatin1String(name))
                    .arg(store().currentRow())
                    .arg(row));
    }

    void backToFirst()
    {
        if (Result<void> done = store().refresh(); !done)
            die(done.error());
        drain();
    }

    void openStoreAlone()
    {
        std::unique_ptr<ContactStore> store;
        measure(
            "open: store.open() alone", m_runs,
            [&] {
                store = std::make_unique<ContactStore>();
                store->setDatabaseName(m_folder.databasePath());
                store->setRecordSource(recordSource);
            },
            [&] {
                if (Result<void> done = store->open(); !done)
                    die(done.error());
            });
    }

    void openWindow()
    {
        measure(
            "open: load + show, first record painted", m_runs,
            [&] {
                m_window.reset();
                drain();
                m_window = std::make_unique<MainWindow>();
            },
            [&] {
                PaintProbe probe(m_window->fieldWidget(ContactField::LastName));
                if (!m_window->load())
                    die(QStringLiteral("load failed"));
                m_window->show();
                waitUntilPainted(probe);
            },
            [&] { expectRow("open", 0); });
    }

    void refresh()
    {
        measure(
            "Refresh", m_runs, [] {},
            [&] {
                if (Result<void> done = store().refresh(); !done)
                    die(done.error());
            },
            [&] { expectRow("Refresh", 0); });
    }

    void requery()
    {
        measure(
            "Requery (Save)", m_runs, [&] { m_window->runCommand(MainWindow::Command::Next); },
            [&] { m_window->runCommand(MainWindow::Command::Save); },
            [&] { expectRow("Save", 0); });
    }

    void deleteAndRefresh()
    {
        int before = 0;
        measure(
            "Delete+Refresh", m_runs,
            [&] {
                backToFirst();
                before = store().recordCount();
            },
            // The question is answered Yes by the scripted presenter.
            [&] { m_window->runCommand(MainWindow::Command::Delete); },
            [&] {
                if (store().recordCount() != before - 1)
                    die(QStringLiteral("Delete did not delete"));
                expectRow("Delete", 0);
            });
    }

    void gridFarRow()
    {
        measure(
            "grid: click a row far from the current one", m_runs,
            [&] {
                backToFirst();
                grid()->scrollToBottom();
                drain();
            },
            [&] {
                const QModelIndex last = grid()->model()->index(store().recordCount() - 1, 0);
                QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {},
                                  grid()->visualRect(last).center());
            },
            [&] { expectRow("grid", store().recordCount() - 1); });
    }

    void search()
    {
        SearchDialog dialog(m_window->dbData1(), m_window->storeFailureReporter());
        for (const bench::SearchTarget &target : bench::searchTargets()) {
            const QByteArray name
                = QByteArrayLiteral("search walk: ") + columnName(target.field).toUtf8();
            measure(
                name.constData(), m_walkRuns,
                [&] {
                    backToFirst();
                    dialog.show();
                    dialog.findChild<QRadioButton *>(QLatin1String(target.option))
                        ->setChecked(true);
                    dialog.findChild<QLineEdit *>(QStringLiteral("txtSearch"))
                        ->setText(target.value);
                    drain();
                },
                [&] { dialog.findChild<QPushButton *>(QStringLiteral("cmdSearch"))->click(); },
                [&] {
                    if (m_boxes.last().text != QLatin1String("Match"))
                        die(QStringLiteral("the search said ") + m_boxes.last().text);
                    expectRow("search", store().recordCount() - 1);
                });
        }
    }

    void nextWalk()
    {
        measure(
            "Next walk, first to last", m_walkRuns, [&] { backToFirst(); },
            [&] {
                for (int i = store().recordCount() - 1; i > 0; --i)
                    m_window->runCommand(MainWindow::Command::Next);
            },
            [&] { expectRow("Next", store().recordCount() - 1); });
    }

    void previousWalk()
    {
        measure(
            "Previous walk, last to first", m_walkRuns,
            [&] {
                if (Result<void> done = store().moveTo(store().recordCount() - 1); !done)
                    die(done.error());
                drain();
            },
            [&] {
                for (int i = store().recordCount() - 1; i > 0; --i)
                    m_window->runCommand(MainWindow::Command::Previous);
            },
            [&] { expectRow("Previous", 0); });
    }

    BenchFolder m_folder;
    platform::ScriptedMessageBoxes m_boxes;
    std::unique_ptr<MainWindow> m_window;
    int m_runs;
    int m_walkRuns;
    QString m_only;
    int m_records = 0;
};

// Counts without reading the rows, so the count adds nothing to the peak memory measured.
int countRecords(const QString &databasePath)
{
    sqlite::Connection db;
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadOnly))
        die(databasePath + QStringLiteral(": ") + db.errorMessage());
    sqlite::Statement count(db, QStringLiteral("select count(*) from contactsdb"));
    if (!count.isValid() || count.step() != sqlite::Statement::Step::Row)
        die(databasePath + QStringLiteral(": ") + db.errorMessage());
    return int(count.columnInt64(0));
}

// Peak memory of the real start-up wiring: the main window as the program opens it, then
// each window of the toolbar opened and closed in turn.
void memory(const QString &database)
{
    BenchFolder folder(database);
    if (!folder.isValid())
        die(folder.error());
    files::setAppPathForTesting(folder.path());
    const int records = countRecords(folder.databasePath());
    platform::ScriptedMessageBoxes boxes;

    drain();
    printMemory(records, QStringLiteral("toolkit started, no window"));
    if (!app::showMainWindow())
        die(QStringLiteral("the main window did not open"));
    MainWindow *main = app::mainWindow();
    PaintProbe probe(main->fieldWidget(ContactField::LastName));
    waitUntilPainted(probe);
    drain();
    printMemory(records, QStringLiteral("main window open"));

    // Each toolbar window in turn; the report window and the About window lead on to the
    // report viewer and the program-information window, which are opened through them.
    struct ToolbarWindow
    {
        MainWindow::Command command;
        const char *key;
        const char *leadsOn;
    };
    const ToolbarWindow windows[] = {
        {MainWindow::Command::Search, "Search", nullptr},
        {MainWindow::Command::Sort, "Sort", nullptr},
        {MainWindow::Command::Reports, "Reports", "cmdViewReport"},
        {MainWindow::Command::About, "About", "cmdProgramInfo"},
    };
    for (const auto &[command, key, leadsOn] : windows) {
        const QWidgetList before = QApplication::topLevelWidgets();
        auto newWindows = [&before] {
            QWidgetList opened;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && !before.contains(widget))
                    opened << widget;
            }
            return opened;
        };
        main->runCommand(command);
        drain();
        QWidgetList opened = newWindows();
        if (opened.isEmpty()) {
            printMemory(records, QStringLiteral("%1: no window opens").arg(QLatin1String(key)));
            continue;
        }
        QStringList names;
        for (QWidget *widget : opened)
            names << widget->objectName();
        if (leadsOn) {
            for (QWidget *widget : opened) {
                if (auto *button = widget->findChild<QAbstractButton *>(QLatin1String(leadsOn))) {
                    button->click();
                    drain();
                    break;
                }
            }
            for (QWidget *widget : newWindows()) {
                const QString name = widget->objectName().isEmpty()
                                         ? QString::fromLatin1(widget->metaObject()->className())
                                         : widget->objectName();
                if (!names.contains(name))
                    names << name;
            }
            opened = newWindows();
        }
        for (QWidget *widget : opened)
            widget->close();
        drain();
        printMemory(records, QStringLiteral("after opening and closing %1").arg(names.join(", ")));
    }
    platform::setProgramTerminator(nullptr);
}

void report(const QString &database, int runs)
{
    BenchFolder folder(database);
    if (!folder.isValid())
        die(folder.error());
    files::setAppPathForTesting(folder.path());
    const int records = countRecords(folder.databasePath());
    const QString definitionPath = folder.file(QStringLiteral("phonelist.rpt"));
    const Result<reportengine::ReportDefinition> loaded
        = reportengine::loadReportDefinition(definitionPath);
    if (!loaded)
        die(loaded.error());
    const reportengine::ReportDefinition &definition = *loaded;

    reportui::ReportControlSettings settings;
    settings.reportError = [](const QString &title, const QString &text) {
        die(title + QStringLiteral(": ") + text);
    };
    Samples firstPage;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        reportui::ViewerReportControl control(settings);
        control.setReportFileName(definitionPath);
        if (!control.run() || !control.lastViewer())
            die(QStringLiteral("the phone listing did not run"));
        auto *scroll = control.lastViewer()->findChild<QScrollArea *>();
        if (scroll && scroll->widget()) {
            PaintProbe probe(scroll->widget());
            waitUntilPainted(probe);
        }
        drain();
        firstPage.add(elapsedMs(timer));
        reportui::closeAllReportViewers();
        drain();
    }
    printFigure(records, "phone listing: run to first page on screen", firstPage, {});

    const QString pdf = folder.file(QStringLiteral("phonelist.pdf"));
    Samples exported;
    int pages = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const Result<reportengine::Report> report
            = reportengine::Report::open(definitionPath, QDate::currentDate());
        if (!report)
            die(report.error());
        if (const Result<void> written = reportengine::exportPdf(*report, pdf); !written)
            die(written.error());
        exported.add(elapsedMs(timer));
        pages = report->pageCount();
    }
    printFigure(records, "phone listing: full PDF export (read, lay out, write)", exported, {});
    std::fprintf(stderr, "phone listing PDF: %d pages\n", pages);

    // The reference: the same rows, in the same order, as a plain table.
    const QString sql = QStringLiteral(
        "select lastname, firstname, Middle, \"Work Phone\", \"Home Phone\", Cell, Fax "
        "from contactsdb order by lastname, firstname, Middle");
    const QStringList header
        = {QStringLiteral("Last Name"), QStringLiteral("First Name"), QStringLiteral("Middle"),
           QStringLiteral("Work"),      QStringLiteral("Home"),       QStringLiteral("Cell"),
           QStringLiteral("Fax")};
    const QString reference = folder.file(QStringLiteral("reference.pdf"));
    Samples plain;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        pages = bench::writePlainPdfTable(reference, header,
                                          bench::readRows(definition.databasePath, sql));
        plain.add(elapsedMs(timer));
        if (pages < 0)
            die(QStringLiteral("cannot write ") + reference);
    }
    printFigure(records, "reference: same rows as a plain PDF table (QPdfWriter)", plain, {});
    std::fprintf(stderr, "reference PDF: %d pages\n", pages);
}

// The splash window's progress animation alone, the same 20,001 assignments as the start-up's
// first tick, on a splash window that is on screen.
void splash(const QString &database, int runs)
{
    const int records = countRecords(database);
    Samples measured;
    for (int i = 0; i < runs; ++i) {
        SplashWindow window;
        PaintProbe probe(&window);
        window.show();
        waitUntilPainted(probe);
        QElapsedTimer timer;
        timer.start();
        window.setProgressValue(0);
        for (int value = 5; value <= 100; value += 5) {
            for (int n = 1; n <= 1000; ++n)
                window.setProgressValue(value);
        }
        drain();
        measured.add(elapsedMs(timer));
    }
    printFigure(records, "splash: progress animation alone", measured, {});
}

int toInt(const QStringList &args, int index, int fallback)
{
    bool ok = false;
    const int value = args.value(index).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    platform::installFontSubstitutions();
    const QStringList args = application.arguments();
    const QString command = args.value(1);
    const QString database = args.value(2);
    if (database.isEmpty())
        die(QStringLiteral(
            "usage: pelmora_bench mark|store|memory|report|splash <database> [runs]"));

    if (command == QLatin1String("mark")) {
        QString error;
        if (!bench::markLastRecord(database, &error))
            die(database + QStringLiteral(": ") + error);
    } else if (command == QLatin1String("store")) {
        StoreBench(database, toInt(args, 3, 5), toInt(args, 4, 3), args.value(5)).run();
    } else if (command == QLatin1String("memory")) {
        memory(database);
    } else if (command == QLatin1String("report")) {
        report(database, toInt(args, 3, 5));
    } else if (command == QLatin1String("splash")) {
        splash(database, toInt(args, 3, 5));
    } else {
        die(QStringLiteral("unknown command ") + command);
    }
    return 0;
}
