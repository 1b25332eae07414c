#pragma once

#include <QAbstractTableModel>

class ContactStore;

// The grid's view of the store: every record in the store's order, last and first name, and
// a record-selector header that marks the current row.
class ContactListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ContactListModel(ContactStore &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // The record selector moved from one row to another (-1: no row). The marker changes
    // without headerDataChanged, which makes a view lay out all its rows again: the view
    // repaints the two rows' headers instead.
    void markerMoved(int previousRow, int currentRow);

private:
    void markCurrentRow();

    ContactStore &m_store;
    int m_markedRow = -1;
};
