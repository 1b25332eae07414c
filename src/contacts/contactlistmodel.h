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

private:
    void markCurrentRow();

    ContactStore &m_store;
    int m_markedRow = -1;
};
