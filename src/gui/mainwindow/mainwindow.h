#pragma once

#include <core/contacts/contactfields.h>
#include <core/contacts/contactstore.h>

#include <QWidget>

#include <array>
#include <functional>

class ContactGridView;
class ContactListModel;
class ContactStatusBar;
class QAction;
class QFrame;
class QLabel;
class QToolBar;
class QToolButton;

// The main window: the contact list beside the current contact's seventeen fields, a
// toolbar of ten commands and a status bar. It owns the contact store (its data control
// dbData1), shows the store's values and pushes every edit of a field into it.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The load handler: points the store at cntdb.mdb, chooses the record order from
    // settings.ini and opens the records. Returns false when the database cannot be used
    // (a message box has said why); the window must then not be shown.
    bool load();

    // The toolbar's commands, in the toolbar's order.
    enum class Command { Exit, Add, Save, Delete, Previous, Next, Search, Sort, Reports, About };
    Q_ENUM(Command)

    // The toolbar's click handler: runs one command.
    void runCommand(Command command);
    // The action that stands for a command: its toolbar button and overflow-menu entry.
    QAction *commandAction(Command command) const { return m_actions[int(command)]; }

    // The commands that open other windows (Search, Sort, Reports, About) are wired in by
    // the application.
    void setWindowOpener(Command command, std::function<void()> open);

    ContactStore &dbData1() { return m_store; }
    // The text a field shows now, typed and unsaved text included.
    QString fieldText(ContactField field) const;
    QWidget *fieldWidget(ContactField field) const { return m_fields[fieldIndex(field)]; }

    // Counts the contacts of the files (vCard, CSV or Access, known by their contents), asks
    // "Import N contacts from FILE?" and on Yes imports them into the address book as the
    // command-line tool does, streaming: no file is held whole. Then says what was skipped
    // and shows the list again. What was typed is stored first.
    void offerImport(const QStringList &paths);
    // True for a file offerImport() can read.
    static bool isImportable(const QString &path);

    // Says in a message box that a store operation failed, naming the file and the reason.
    void reportStoreFailure(const QString &whatFailed, const QString &reason);
    // The same, for windows that work on this window's store (the search dialog).
    std::function<void(const QString &, const QString &)> storeFailureReporter()
    {
        return [this](const QString &whatFailed, const QString &reason) {
            reportStoreFailure(whatFailed, reason);
        };
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showStoreValues();

    void buildToolbar();
    void buildGrid();
    void buildFields();
    void followCurrentRecord();
    void chooseGridRow(int row);

    void exitCommand();
    void addCommand();
    void saveCommand();
    void deleteCommand();
    void nextCommand();
    void previousCommand();
    bool askToDelete();
    // Reports a failed store operation; true when it succeeded.
    bool succeeded(const Result<void> &result, const QString &whatFailed);

    ContactStore m_store;
    ContactListModel *m_model = nullptr;
    QToolBar *m_toolbar = nullptr;
    QFrame *m_grid = nullptr;
    ContactGridView *m_gridView = nullptr;
    std::array<QWidget *, contactFieldCount> m_fields{};
    ContactStatusBar *m_statusBar = nullptr;
    std::array<QAction *, 10> m_actions{};
    std::array<std::function<void()>, 10> m_windowOpeners;
    bool m_refilling = false;
    bool m_centred = false;
};
