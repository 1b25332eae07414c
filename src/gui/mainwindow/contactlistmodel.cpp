#include <gui/mainwindow/contactlistmodel.h>

#include <core/contacts/contactstore.h>

ContactListModel::ContactListModel(ContactStore &store, QObject *parent)
    : QAbstractTableModel(parent)
    , m_store(store)
{
    connect(&m_store, &ContactStore::recordsetChanged, this, [this] {
        beginResetModel();
        m_markedRow = -1;
        endResetModel();
        markCurrentRow();
    });
    connect(&m_store, &ContactStore::rowChanged, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); });
    connect(&m_store, &ContactStore::rowAppended, this, [this](int row) {
        // The store has the row already; the view only needs to hear of it.
        beginInsertRows({}, row, row);
        endInsertRows();
    });
    connect(&m_store, &ContactStore::currentChanged, this, &ContactListModel::markCurrentRow);
}

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_store.recordCount();
}

int ContactListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return m_store.value(index.row(),
                         index.column() == 0 ? ContactField::LastName : ContactField::FirstName);
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section == 0 ? QStringLiteral("Last Name") : QStringLiteral("First Name");
    // The record selector: a marker beside the current record only.
    return section == m_markedRow ? QStringLiteral("\u25B6") : QString();
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void ContactListModel::markCurrentRow()
{
    const int previous = m_markedRow;
    m_markedRow = m_store.markedRow();
    if (previous != m_markedRow)
        emit markerMoved(previous < rowCount() ? previous : -1, m_markedRow);
}
