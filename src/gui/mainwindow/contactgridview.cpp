#include <gui/mainwindow/contactgridview.h>

#include <QScopedValueRollback>

ContactGridView::ContactGridView(QWidget *parent)
    : QTableView(parent)
{
    // The grid is one stop in the tab order; arrows move between its rows.
    setTabKeyNavigation(false);
}

void ContactGridView::showCurrentRow(int row)
{
    const QScopedValueRollback quiet(m_quiet, true);
    if (row >= 0) {
        const QModelIndex index = model()->index(row, 0);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                     | QItemSelectionModel::Rows);
        scrollTo(index);
    } else {
        selectionModel()->clear();
    }
}

void ContactGridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (!m_quiet && current.isValid() && current.row() != previous.row())
        emit rowChosen(current.row());
}

void ContactGridView::focusInEvent(QFocusEvent *event)
{
    // Gaining the focus is not a choice: what QTableView makes current here is taken back.
    const bool hadCurrent = currentIndex().isValid();
    const QScopedValueRollback quiet(m_quiet, true);
    QTableView::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid())
        selectionModel()->clear();
}
