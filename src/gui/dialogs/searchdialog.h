#pragma once

#include <core/contacts/contactfields.h>

#include <QWidget>

class MainWindow;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The search dialog: finds a contact by one of five fields, walking the main window's
// records forward from its current record, and leaves the match current there.
class SearchDialog : public QWidget
{
    Q_OBJECT

public:
    explicit SearchDialog(MainWindow &mainWindow);

    // The Click handler of cmdSearch.
    void search();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QRadioButton *
    addOption(const QString &name, const QString &caption, int top, ContactField field);
    // The field the selected option stands for.
    ContactField searchField() const;

    MainWindow &m_mainWindow;
    QGroupBox *m_frame1 = nullptr;
    // optLast, optFirst, optNick, optHome and optWork, their ids the ContactField each
    // searches.
    QButtonGroup *m_searchType = nullptr;
    QLineEdit *m_txtSearch = nullptr;
    QLabel *m_lblDescription = nullptr;
};
