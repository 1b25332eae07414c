#pragma once

#include <core/contacts/contactfields.h>

#include <QWidget>

#include <functional>

class ContactStore;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The search dialog: finds a contact by one of five fields, walking the store's records
// forward from its current record, and leaves the match current there. A store operation
// that fails is handed to reportFailure (what failed, and the reason), which says so.
class SearchDialog : public QWidget
{
    Q_OBJECT

public:
    using FailureReporter = std::function<void(const QString &whatFailed, const QString &reason)>;
    SearchDialog(ContactStore &store, FailureReporter reportFailure);

    // The Click handler of cmdSearch.
    void search();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QRadioButton *
    addOption(const QString &name, const QString &caption, int top, const QString &description);
    // The field the selected option stands for, found in the order Last, First, Nick, Home,
    // Work, each test asking that its option alone is selected.
    ContactField searchField() const;

    ContactStore &m_store;
    FailureReporter m_reportFailure;
    QGroupBox *m_frame1 = nullptr;
    QRadioButton *m_optLast = nullptr;
    QRadioButton *m_optFirst = nullptr;
    QRadioButton *m_optNick = nullptr;
    QRadioButton *m_optHome = nullptr;
    QRadioButton *m_optWork = nullptr;
    QLineEdit *m_txtSearch = nullptr;
    QLabel *m_lblDescription = nullptr;
};
