#pragma once

#include <QTableView>

// The contact list's grid. A row becomes current here only when the user chooses it (click,
// arrow keys, Page Up/Down, Home/End) or when the window shows the store's position; then the
// view says which row the user chose. QTableView on its own makes the first row current when
// it gains the focus without one, which at the end or start of the records would move the
// store; and Tab would walk its cells instead of leaving it.
class ContactGridView : public QTableView
{
    Q_OBJECT

public:
    explicit ContactGridView(QWidget *parent = nullptr);

    // Marks this row as current, or none for -1, without reporting a choice.
    void showCurrentRow(int row);

signals:
    void rowChosen(int row);

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    bool m_quiet = false;
};
