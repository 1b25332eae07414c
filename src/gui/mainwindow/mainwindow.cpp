#include <gui/mainwindow/mainwindow.h>

#include <core/contacts/recordsource.h>
#include <core/interchange/contactimport.h>
#include <core/interchange/fileimport.h>
#include <core/text/printable.h>
#include <gui/mainwindow/contactgridview.h>
#include <gui/mainwindow/contactlistmodel.h>
#include <gui/mainwindow/contactstatusbar.h>

#include <core/files/apppath.h>
#include <core/settings/inireader.h>
#include <core/settings/settingsfiles.h>
#include <gui/platform/centring.h>
#include <gui/platform/fonts.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/programexit.h>
#include <gui/platform/twips.h>
#include <gui/platform/wrappingtextedit.h>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <limits>

using platform::twips;
using platform::twipsRect;

namespace {

using Command = MainWindow::Command;

// The toolbar, left to right; a button's objectName is "btn" and its key.
struct ToolbarButton
{
    Command command;
    const char *caption;
    const char *key;
    const char *picture;
};

constexpr ToolbarButton toolbarButtons[] = {
    {Command::Exit, "&Exit", "Exit", "tool-exit"},
    {Command::Add, "&Add Record", "Add", "tool-add"},
    {Command::Save, "&Save Record", "Save", "tool-save"},
    {Command::Delete, "&Delete Record", "Delete", "tool-delete"},
    {Command::Previous, "&Previous Record", "Previous", "tool-previous"},
    {Command::Next, "&Next Record", "Next", "tool-next"},
    {Command::Search, "&Search", "Search", "tool-search"},
    {Command::Sort, "S&ort", "Sort", "tool-sort"},
    {Command::Reports, "Re&ports", "Reports", "tool-reports"},
    {Command::About, "A&bout", "About", "tool-about"},
};

constexpr int toolbarHeight = 810;
constexpr int statusBarHeight = 255;
constexpr int labelLeft = 5160;
constexpr int fieldLeft = 6960;
constexpr int fieldWidth = 6735;
constexpr int firstRowTop = 960;
constexpr int rowSpacing = 480;

const QString editTitle = QStringLiteral("Pelmora - Edit Contacts");
const QString notSavedMessage
    = QStringLiteral("The contact could not be saved. What you typed is still in the fields.");

QString withoutAccessKey(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmContactList2"));
    setWindowTitle(QStringLiteral("Pelmora - Contacts Listing"));
    // vCard and CSV files dropped on the window are offered for import.
    setAcceptDrops(true);
    QIcon icon;
    for (int size : {16, 32, 48, 128})
        icon.addPixmap(QPixmap(QStringLiteral(":/pelmora/program.png"))
                           .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    setWindowIcon(icon);
    resize(platform::twipsSize(13860, 10545));

    m_store.setObjectName(QStringLiteral("dbData1"));
    m_model = new ContactListModel(m_store, this);

    buildToolbar();
    buildGrid();
    buildFields();
    m_statusBar = new ContactStatusBar(this);

    // The grid comes first in the tab order and holds the focus when the window opens.
    QWidget *previous = m_gridView;
    for (QWidget *field : m_fields) {
        setTabOrder(previous, field);
        previous = field;
    }
    connect(&m_store, &ContactStore::currentChanged, this, [this] {
        showStoreValues();
        followCurrentRecord();
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(32, 32));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Ten buttons of 1380 twips fill the window's width: no room for spacing.
    m_toolbar->setContentsMargins(0, 0, 0, 0);
    m_toolbar->layout()->setSpacing(0);
    m_toolbar->layout()->setContentsMargins(0, 0, 0, 0);
    m_toolbar->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 0px; }"));
    // Actions, not widgets: in a narrow window QToolBar lists the buttons that no longer fit
    // in the menu of its "»" button, which it can do for actions only.
    for (const ToolbarButton &button : toolbarButtons) {
        const QString key = QString::fromLatin1(button.key);
        const QString caption = QString::fromLatin1(button.caption);
        auto *action = new QAction(
            QIcon(QStringLiteral(":/pelmora/%1.png").arg(QLatin1String(button.picture))), caption,
            m_toolbar);
        action->setObjectName(QStringLiteral("action") + key);
        // The button shows the caption with its access key, which the icon text would drop.
        action->setIconText(caption);
        const Command command = button.command;
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
        m_actions[int(command)] = action;
        m_toolbar->addAction(action);
        QWidget *tool = m_toolbar->widgetForAction(action);
        tool->setObjectName(QStringLiteral("btn") + key);
        tool->setAccessibleName(withoutAccessKey(caption));
        tool->setFixedSize(platform::twipsSize(1380, 780));
        tool->setFont(platform::msSansSerif(8.25));
        tool->setFocusPolicy(Qt::NoFocus);
        // The buttons have no tooltips; an action would give each its caption as one.
        tool->installEventFilter(this);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ToolTip && watched->parent() == m_toolbar)
        return true;
    return QWidget::eventFilter(watched, event);
}

void MainWindow::buildGrid()
{
    const QRect area = twipsRect(0, 960, 5055, 9255);
    m_grid = new QFrame(this);
    m_grid->setObjectName(QStringLiteral("DBGrid1Frame"));
    m_grid->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_grid->setGeometry(area);

    auto *caption = new QLabel(QStringLiteral("Contacts List:"), m_grid);
    caption->setObjectName(QStringLiteral("DBGrid1Caption"));
    caption->setAlignment(Qt::AlignCenter);
    caption->setAutoFillBackground(true);
    caption->setBackgroundRole(QPalette::Highlight);
    caption->setForegroundRole(QPalette::HighlightedText);
    caption->setFont(platform::msSansSerif(9.75, true));
    const int captionHeight = caption->sizeHint().height() + 4;
    caption->setGeometry(1, 1, area.width() - 2, captionHeight);

    m_gridView = new ContactGridView(m_grid);
    m_gridView->setObjectName(QStringLiteral("DBGrid1"));
    m_gridView->setAccessibleName(QStringLiteral("Contacts List:"));
    m_gridView->setModel(m_model);
    m_gridView->setGeometry(1, captionHeight + 1, area.width() - 2,
                            area.height() - captionHeight - 2);
    m_gridView->setFont(platform::msSansSerif(9.75));
    m_gridView->horizontalHeader()->setFont(platform::msSansSerif(9.75, true));
    m_gridView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_gridView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_gridView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_gridView->setWordWrap(false);
    m_gridView->setStyleSheet(QStringLiteral("QTableView { gridline-color: #404040; }"));
    m_gridView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_gridView->horizontalHeader()->setHighlightSections(false);
    // The record selector: a narrow column of row headers, marking the current record.
    QHeaderView *selector = m_gridView->verticalHeader();
    selector->setSectionResizeMode(QHeaderView::Interactive);
    selector->setDefaultSectionSize(m_gridView->fontMetrics().height() + 6);
    selector->setMinimumWidth(twips(270));
    selector->setDefaultAlignment(Qt::AlignCenter);
    selector->setHighlightSections(false);
    m_grid->setFocusProxy(m_gridView);
    // Only the two selector cells change: a relayout of every row per step made a walk
    // through 10,000 records take seconds.
    connect(m_model, &ContactListModel::markerMoved, selector,
            [selector](int previous, int current) {
                for (int row : {previous, current}) {
                    if (row >= 0)
                        selector->viewport()->update(0, selector->sectionViewportPosition(row),
                                                     selector->viewport()->width(),
                                                     selector->sectionSize(row));
                }
            });

    connect(m_gridView, &ContactGridView::rowChosen, this, &MainWindow::chooseGridRow);
}

void MainWindow::buildFields()
{
    for (int i = 0; i < contactFieldCount; ++i) {
        const ContactField field = fieldAt(i);
        const int top = firstRowTop + i * rowSpacing;

        auto *label = new QLabel(fieldCaption(field), this);
        label->setObjectName(QStringLiteral("lbl") + fieldControlName(field).mid(3));
        label->setFont(platform::msSansSerif(9.75, true));
        label->adjustSize();
        label->move(twips(labelLeft), twips(top));
        label->resize(label->width(), std::max(label->height(), twips(240)));

        QWidget *editor = nullptr;
        if (field == ContactField::Notes) {
            auto *notes = new platform::WrappingTextEdit(this);
            notes->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            notes->setTabChangesFocus(true);
            connect(notes, &QPlainTextEdit::textChanged, this, [this] {
                if (!m_refilling)
                    m_store.setFieldText(ContactField::Notes, fieldText(ContactField::Notes));
            });
            notes->setGeometry(twipsRect(fieldLeft, top, fieldWidth, 1605));
            editor = notes;
        } else {
            auto *line = new QLineEdit(this);
            // No length limit of our own: QLineEdit would cut at 32,767 characters.
            line->setMaxLength(std::numeric_limits<int>::max());
            // Not textEdited: text put in by paste, undo, an input method or assistive
            // technology must be saved like typed text.
            connect(line, &QLineEdit::textChanged, this, [this, field](const QString &text) {
                if (!m_refilling)
                    m_store.setFieldText(field, text);
            });
            const int width = field == ContactField::ContactId ? 3495 : fieldWidth;
            line->setGeometry(twipsRect(fieldLeft, top, width, 405));
            editor = line;
        }
        editor->setObjectName(fieldControlName(field));
        editor->setFont(platform::msSansSerif(9.75));
        editor->setAccessibleName(fieldCaption(field));
        label->setBuddy(editor);
        m_fields[i] = editor;
    }
}

bool MainWindow::load()
{
    m_store.setDatabaseName(files::appFile(QStringLiteral("cntdb.mdb")));
    const Result<QString> sortType = settings::readIniKey(
        settings::settingsIniPath(), settings::settingsSection, settings::sortTypeKey);
    if (!sortType) {
        platform::showMessage(QString(),
                              QStringLiteral("The sort order could not be read, so the contacts "
                                             "are listed by last name.\n\n%1")
                                  .arg(sortType.error()),
                              platform::MessageIcon::Information);
    }
    m_store.setRecordSource(recordSourceForSortType(sortType.valueOr(QString())));
    if (Result<void> opened = m_store.open(); !opened) {
        platform::showMessage(
            QString(),
            fileProblem(QStringLiteral("The contact database could not be opened."),
                        m_store.databaseName(), opened.error()),
            platform::MessageIcon::Critical);
        return false;
    }
    return true;
}

QString MainWindow::fieldText(ContactField field) const
{
    QWidget *editor = m_fields[fieldIndex(field)];
    if (auto *notes = qobject_cast<QPlainTextEdit *>(editor)) {
        // toPlainText() would turn no-break spaces into spaces and line separators into
        // line feeds, changing a whole note when one letter of it was edited. The raw text
        // keeps them; only the paragraph separators between its lines become line feeds.
        return notes->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    }
    return static_cast<QLineEdit *>(editor)->text();
}

void MainWindow::showStoreValues()
{
    const ContactValues &values = m_store.shownValues();
    const bool editable = m_store.isEditable();
    m_refilling = true;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (auto *notes = qobject_cast<platform::WrappingTextEdit *>(m_fields[i])) {
            notes->showText(values[i]);
            notes->setReadOnly(!editable);
        } else {
            auto *line = static_cast<QLineEdit *>(m_fields[i]);
            line->setText(values[i]);
            line->setCursorPosition(0);
            // The id is the program's to set; the user never types into it.
            line->setReadOnly(!editable || fieldAt(i) == ContactField::ContactId);
        }
    }
    m_refilling = false;
}

void MainWindow::followCurrentRecord()
{
    m_gridView->showCurrentRow(m_store.markedRow());
}

void MainWindow::chooseGridRow(int row)
{
    if (row == m_store.markedRow())
        return;
    if (!succeeded(m_store.moveTo(row), notSavedMessage))
        followCurrentRecord();
}

void MainWindow::reportStoreFailure(const QString &whatFailed, const QString &reason)
{
    platform::showMessage(QString(), fileProblem(whatFailed, m_store.databaseName(), reason),
                          platform::MessageIcon::Critical);
}

bool MainWindow::succeeded(const Result<void> &result, const QString &whatFailed)
{
    if (!result)
        reportStoreFailure(whatFailed, result.error());
    return result.ok();
}

void MainWindow::setWindowOpener(Command command, std::function<void()> open)
{
    m_windowOpeners[int(command)] = std::move(open);
}

void MainWindow::runCommand(Command command)
{
    switch (command) {
    case Command::Exit:
        exitCommand();
        break;
    case Command::Add:
        addCommand();
        break;
    case Command::Save:
        saveCommand();
        break;
    case Command::Delete:
        deleteCommand();
        break;
    case Command::Previous:
        previousCommand();
        break;
    case Command::Next:
        nextCommand();
        break;
    case Command::Search:
    case Command::Sort:
    case Command::Reports:
    case Command::About:
        if (const auto &open = m_windowOpeners[int(command)])
            open();
        break;
    }
}

void MainWindow::exitCommand()
{
    // Closing commits what was typed; if the user keeps the window, the program goes on.
    if (close())
        platform::endProgram();
}

void MainWindow::addCommand()
{
    const Result<qint64> id = m_store.nextContactId();
    if (!id) {
        platform::showMessage(editTitle,
                              fileProblem(QStringLiteral("No new contact can be added."),
                                          m_store.databaseName(), id.error()),
                              platform::MessageIcon::Information);
        return;
    }
    if (!succeeded(m_store.addNew(), notSavedMessage))
        return;
    static_cast<QLineEdit *>(m_fields[fieldIndex(ContactField::ContactId)])
        ->setText(QString::number(*id));
    m_fields[fieldIndex(ContactField::LastName)]->setFocus();
}

void MainWindow::saveCommand()
{
    succeeded(m_store.refresh(), notSavedMessage);
}

bool MainWindow::askToDelete()
{
    const QString question = QStringLiteral("Are you sure you would like to delete this record: ")
                             + fieldText(ContactField::LastName) + QStringLiteral(", ")
                             + fieldText(ContactField::FirstName) + QStringLiteral("?");
    return platform::showMessage(QStringLiteral("Delete Contact Record?"), question,
                                 platform::MessageIcon::Critical, platform::MessageButtons::YesNo)
           == platform::MessageAnswer::Yes;
}

void MainWindow::deleteCommand()
{
    if (m_store.recordCount() == 0) {
        platform::showMessage(editTitle, QStringLiteral("There are no more records to delete."),
                              platform::MessageIcon::Information);
        return;
    }
    if (m_store.hasPendingNew()) {
        // A new contact not yet stored: Yes drops it, nothing is written.
        if (askToDelete()) {
            m_store.discardPendingNew();
            succeeded(m_store.refresh(), QStringLiteral("The contacts could not be read again."));
        }
        return;
    }
    if (!m_store.hasCurrentRecord()) {
        platform::showMessage(editTitle, QStringLiteral("There is no current record to delete."),
                              platform::MessageIcon::Information);
        return;
    }
    if (!askToDelete())
        return;
    if (succeeded(m_store.deleteCurrent(), QStringLiteral("The contact could not be deleted.")))
        succeeded(m_store.refresh(), QStringLiteral("The contacts could not be read again."));
}

void MainWindow::nextCommand()
{
    if (m_store.isEOF()) {
        platform::showMessage(QStringLiteral("End of Database Records"),
                              QStringLiteral("End of database records.  Please move backwards "
                                             "through your records using the 'Previous Button'."),
                              platform::MessageIcon::Critical);
        return;
    }
    succeeded(m_store.moveNext(), notSavedMessage);
}

void MainWindow::previousCommand()
{
    if (m_store.isBOF()) {
        platform::showMessage(QStringLiteral("Beginning of Database Records"),
                              QStringLiteral("Beginning of database records.  Please move foward "
                                             "through your records using the 'Next Button'."),
                              platform::MessageIcon::Critical);
        return;
    }
    succeeded(m_store.movePrevious(), notSavedMessage);
}

bool MainWindow::isImportable(const QString &path)
{
    return interchange::fileFormatOf(path).has_value();
}

void MainWindow::offerImport(const QStringList &paths)
{
    interchange::FileReadOptions reading;
    reading.reportNotStored = false; // the importer adds such values to Notes
    const auto failed = [](const Failure &failure) {
        platform::showMessage(QString(), printableLines(failure.message),
                              platform::MessageIcon::Critical);
    };
    // Counted first, keeping no contact: a file of millions is read twice, never held.
    int count = 0;
    QStringList names;
    for (const QString &path : paths) {
        if (!isImportable(path)) {
            failed(Failure::input(fileProblem(
                QStringLiteral("The contacts could not be read."), path,
                QStringLiteral("Only vCard (.vcf) and CSV (.csv) files can be imported."))));
            return;
        }
        const Result<interchange::FileReadSummary> counted
            = interchange::countContacts(path, reading);
        if (!counted) {
            failed(counted.failure());
            return;
        }
        count += counted->contacts;
        names << QDir::toNativeSeparators(path);
    }
    const QString question = QStringLiteral("Import %1 contacts from %2?")
                                 .arg(count)
                                 .arg(names.join(QStringLiteral(", ")));
    if (platform::showMessage(QString(), question, platform::MessageIcon::Question,
                              platform::MessageButtons::YesNo)
        != platform::MessageAnswer::Yes)
        return;
    if (!succeeded(m_store.commit(), notSavedMessage))
        return;
    interchange::ImportOptions options;
    options.extrasToNotes = true; // nothing a file held is lost where no window shows it
    Result<std::unique_ptr<interchange::ContactImporter>> importer
        = interchange::ContactImporter::begin(m_store.databaseName(), options);
    if (!importer) {
        failed(importer.failure());
        return;
    }
    constexpr int shownAtMost = 20;
    QStringList shown;
    int skipped = 0;
    for (const QString &path : paths) {
        reading.report = [&shown, &path](const interchange::ReportLine &line) {
            if (line.kind == interchange::ReportLine::Kind::Skipped && shown.size() < shownAtMost)
                shown << QStringLiteral("%1, line %2: %3")
                             .arg(QFileInfo(path).fileName())
                             .arg(line.line)
                             .arg(printable(line.text));
        };
        const Result<interchange::FileReadSummary> read
            = interchange::importFile(path, **importer, reading);
        if (!read) {
            failed(read.failure());
            return;
        }
        skipped += read->skipped;
    }
    const Result<interchange::ImportSummary> summary = (*importer)->finish();
    if (!summary) {
        failed(summary.failure());
        return;
    }
    if (skipped > 0) {
        if (skipped > shown.size())
            shown << QStringLiteral("... and %1 more.").arg(skipped - shown.size());
        platform::showMessage(QString(),
                              QStringLiteral("%1 contacts were imported; these were skipped:\n\n%2")
                                  .arg(summary->imported)
                                  .arg(shown.join(QLatin1Char('\n'))),
                              platform::MessageIcon::Information);
    }
    succeeded(m_store.refresh(), QStringLiteral("The contacts could not be read again."));
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    const bool importable
        = !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl &url) {
              return url.isLocalFile() && isImportable(url.toLocalFile());
          });
    if (importable)
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        paths << url.toLocalFile();
    event->acceptProposedAction();
    // Not inside the drop: the question box would hold the dragging program waiting.
    QTimer::singleShot(0, this, [this, paths] { offerImport(paths); });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const Result<void> committed = m_store.isOpen() ? m_store.commit() : Result<void>();
    if (!committed) {
        const platform::MessageAnswer answer = platform::showMessage(
            QString(),
            fileProblem(QStringLiteral("The contact could not be saved."), m_store.databaseName(),
                        committed.error())
                + QStringLiteral("\n\nClose anyway? What you typed will be lost."),
            platform::MessageIcon::Critical, platform::MessageButtons::YesNo);
        if (answer != platform::MessageAnswer::Yes) {
            event->ignore();
            return;
        }
    }
    m_store.close();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    // Only the toolbar and the status bar follow the window's width; the rest stays put.
    m_toolbar->setGeometry(0, 0, width(), twips(toolbarHeight));
    m_statusBar->setGeometry(0, height() - twips(statusBarHeight), width(), twips(statusBarHeight));
    QWidget::resizeEvent(event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    if (!m_centred) {
        m_centred = true;
        platform::centreOnScreen(this);
        m_gridView->setFocus();
    }
    QWidget::showEvent(event);
}
