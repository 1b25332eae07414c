#pragma once

#include <core/contacts/contactfields.h>
#include <gui/platform/controltable.h>

#include <QWidget>

#include <functional>
#include <span>

class ContactStore;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

// The search dialog: finds a contact by one of five fields, walking the store's records
// forward from its current record, and leaves the match current there. A store operation
// that fails is handed to reportFailure (what failed, and the reason), which says so.
class SearchDialog : public QWidget
{
    Q_OBJECT

public:
    using FailureReporter = std::function<void(const QString &whatFailed, const QString &reason)>;
    SearchDialog(ContactStore &store, FailureReporter reportFailure);

    // The dialog's controls as they are made.
    static std::span<const platform::LayoutControl> layout();
    // What lblDescription says once the field's option is clicked.
    static QString description(ContactField field);

    // The Click handler of cmdSearch.
    void search();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The field the selected option stands for.
    ContactField searchField() const;

    ContactStore &m_store;
    FailureReporter m_reportFailure;
    // optLast, optFirst, optNick, optHome and optWork, their ids the ContactField each
    // searches.
    QButtonGroup *m_searchType = nullptr;
    QLineEdit *m_txtSearch = nullptr;
    QLabel *m_lblDescription = nullptr;
};
