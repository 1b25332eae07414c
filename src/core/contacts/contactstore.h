#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>
#include <core/contacts/contacttable.h>
#include <core/contacts/packedrecord.h>
#include <core/text/collation.h>

#include <sqlite/connection.h>

#include <QObject>
#include <QString>

#include <bitset>
#include <optional>
#include <vector>

// The data control over contactsdb: an ordered recordset read from the record source, a
// position in it (on a row, before the first, after the last) and an optional pending new
// record. Rows are told apart by SQLite's rowid, never by contactid, which may repeat.
//
// The store keeps the values the fields show: after every move, AddNew, Requery and Refresh
// they hold the new current record and currentChanged() tells the windows to show them.
// Windows push every edit in with setFieldText(); the store never reads a widget. Leaving a
// record commits the fields edited since it became current; a pending new record is
// inserted with all fields. A failed commit leaves the record current and the edits in place.
//
// Operations return a Result: on failure its error says why, in SQLite's or the file
// system's words. The store never shows a message itself.
class ContactStore : public QObject
{
    Q_OBJECT

public:
    explicit ContactStore(QObject *parent = nullptr);
    ~ContactStore() override;

    void setDatabaseName(const QString &path) { m_databaseName = path; }
    QString databaseName() const { return m_databaseName; }
    void setRecordSource(const QString &statement) { m_recordSource = statement; }
    QString recordSource() const { return m_recordSource; }
    // How long a commit waits for another program's lock before it fails.
    void setBusyTimeout(int milliseconds);

    // Opens the database (never creating it) and reads the recordset; the first row becomes
    // current. Checks that contactsdb has all seventeen fields.
    Result<void> open();
    bool isOpen() const { return m_db.isOpen(); }
    void close();
    // Commits, then reads the recordset again; the first row becomes current. Serves as the
    // data control's Refresh and Requery alike.
    Result<void> refresh();

    int recordCount() const { return int(m_rows.size()); }
    bool isBOF() const { return m_rows.empty() || m_position == Position::BeforeFirst; }
    bool isEOF() const { return m_rows.empty() || m_position == Position::AfterLast; }
    bool hasCurrentRecord() const { return !m_rows.empty() && m_position == Position::OnRow; }
    // The row of the current record, or -1 when there is none.
    int currentRow() const { return hasCurrentRecord() ? m_row : -1; }
    bool hasPendingNew() const { return m_pendingNew; }
    // The row a list marks as current: none while a new contact is pending, since that
    // contact is not in the list yet.
    int markedRow() const { return m_pendingNew ? -1 : currentRow(); }

    Result<void> addNew();
    // Deletes the current record from the table; no record is current afterwards.
    Result<void> deleteCurrent();
    // Drops the pending new record without writing it.
    void discardPendingNew();
    Result<void> moveNext();
    Result<void> movePrevious();
    Result<void> moveTo(int row);
    // Writes the changed fields of the current record, or inserts the pending new one.
    Result<void> commit();

    // The values the fields show: the current record's, a pending new one's or empty, with
    // the edits pushed in since.
    const ContactValues &shownValues() const { return m_shown; }
    QString fieldText(ContactField field) const { return m_shown[fieldIndex(field)]; }
    // False while there is no current record and no pending new one: an edit would have no
    // place to go.
    bool isEditable() const { return m_pendingNew || hasCurrentRecord(); }
    // An edit of a field, by the user or by the program; it is committed when the record is
    // left.
    void setFieldText(ContactField field, const QString &text);
    bool hasChanges() const { return m_changed.any() || m_pendingNew; }

    // The stored value of a row in the recordset (what was last read or committed).
    QString value(int row, ContactField field) const;

    // The id for Add by the program's rule (contacts::ContactIds), a pending new record's id
    // counted as taken. Fails only when every id is taken, or when the table cannot be read.
    Result<qint64> nextContactId();

    // The search walk: from the current record, at most maxSteps steps; each step compares the
    // field's text, upper-cased letter by letter, with the criterion and moves on if it
    // differs. Leaving the first record commits it as a move does. True on a match.
    Result<bool> findForward(ContactField field, const QString &upperCriterion, qint64 maxSteps);

    // Upper-cases letter by letter, so the length never changes.
    static QString upperCased(QString text);

signals:
    // The recordset was read anew or a row was added or changed: views re-read it.
    void recordsetChanged();
    void rowChanged(int row);
    // A new contact was stored and joined the end of the recordset.
    void rowAppended(int row);
    // The position or the pending new record changed.
    void currentChanged();

private:
    enum class Position { BeforeFirst, OnRow, AfterLast };
    struct Row
    {
        qint64 rowid = 0;
        PackedRecord values;
    };

    Result<void> readRecordset();
    void sortByName(std::vector<Row> &rows, ContactField field) const;
    void advance();
    Result<void> writeChanges();
    Result<void> insertPending();
    void showCurrent();
    Failure databaseFailure() const;
    Result<contacts::ContactTable *> table();

    QString m_databaseName;
    QString m_recordSource;
    int m_busyTimeout = 5000;
    sqlite::Connection m_db;
    std::optional<contacts::ContactTable> m_table; // while m_db is open
    NameCollator m_collator;
    std::vector<Row> m_rows;
    Position m_position = Position::BeforeFirst;
    int m_row = 0;
    bool m_pendingNew = false;
    ContactValues m_shown;
    std::bitset<contactFieldCount> m_changed;
};
