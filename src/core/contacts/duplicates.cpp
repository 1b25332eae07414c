#include <core/contacts/duplicates.h>

#include <core/text/collation.h>
#include <sqlite/connection.h>
#include <sqlite/transaction.h>

#include <QHash>
#include <QMap>

#include <algorithm>
#include <numeric>

namespace contacts {

namespace {

using Reason = DuplicateGroup::Reason;

// Contacts joined by any reason form one group; a group keeps every reason that joined it.
class Groups
{
public:
    explicit Groups(int count)
        : m_parent(count)
    {
        std::iota(m_parent.begin(), m_parent.end(), 0);
    }
    void join(int a, int b, Reason reason)
    {
        a = root(a);
        b = root(b);
        if (a != b)
            m_parent[b] = a;
        m_links.append({a, reason});
    }
    int root(int i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    QList<QPair<int, Reason>> links() const { return m_links; }

private:
    std::vector<int> m_parent;
    QList<QPair<int, Reason>> m_links;
};

QString digitsOf(const QString &number)
{
    QString digits;
    for (QChar c : number) {
        if (c.isDigit())
            digits += QChar(u'0' + c.digitValue());
    }
    return digits;
}

// How long to wait for another program's lock (the program itself while it commits).
constexpr int busyTimeoutMs = 10000;

} // namespace

QString reasonText(Reason reason)
{
    switch (reason) {
    case Reason::SameEmail:
        return QStringLiteral("the same e-mail address");
    case Reason::SamePhone:
        return QStringLiteral("the same phone number");
    case Reason::SameName:
        return QStringLiteral("the same name");
    case Reason::SwappedName:
        return QStringLiteral("first and last name swapped");
    }
    return {};
}

QList<DuplicateGroup> findDuplicates(const QList<StoredContact> &contacts)
{
    const NameFolder folder;
    Groups groups(int(contacts.size()));
    QHash<QString, int> emails;
    QHash<QString, int> phones;
    QHash<QByteArray, int> names;
    QHash<QByteArray, int> swapped;
    const ContactField phoneFields[]
        = {ContactField::HomePhone, ContactField::WorkPhone, ContactField::Cell, ContactField::Fax};
    for (int i = 0; i < contacts.size(); ++i) {
        const ContactValues &v = contacts.at(i).values;
        for (ContactField field : {ContactField::Email1, ContactField::Email2}) {
            const QString email = v[fieldIndex(field)].trimmed().toCaseFolded();
            if (email.isEmpty())
                continue;
            if (const auto seen = emails.constFind(email); seen != emails.cend())
                groups.join(*seen, i, Reason::SameEmail);
            else
                emails.insert(email, i);
        }
        for (ContactField field : phoneFields) {
            const QString digits = digitsOf(v[fieldIndex(field)]);
            if (digits.size() < 7)
                continue;
            // The last seven digits decide: one number may carry a country code, a trunk
            // prefix or an area code the other leaves out.
            const QString key = digits.right(7);
            if (const auto seen = phones.constFind(key); seen != phones.cend())
                groups.join(*seen, i, Reason::SamePhone);
            else
                phones.insert(key, i);
        }
        const QString last = v[fieldIndex(ContactField::LastName)];
        const QString first = v[fieldIndex(ContactField::FirstName)];
        if (last.trimmed().isEmpty() && first.trimmed().isEmpty())
            continue;
        const QByteArray name = folder.key(last) + '\x01' + folder.key(first);
        const QByteArray reversed = folder.key(first) + '\x01' + folder.key(last);
        if (const auto seen = names.constFind(name); seen != names.cend())
            groups.join(*seen, i, Reason::SameName);
        else
            names.insert(name, i);
        if (const auto seen = swapped.constFind(name); seen != swapped.cend() && name != reversed)
            groups.join(*seen, i, Reason::SwappedName);
        swapped.insert(reversed, i);
    }

    QMap<int, DuplicateGroup> byRoot;
    for (int i = 0; i < contacts.size(); ++i)
        byRoot[groups.root(i)].rowids.append(contacts.at(i).rowid);
    for (const auto &[at, reason] : groups.links()) {
        QList<Reason> &reasons = byRoot[groups.root(at)].reasons;
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    QList<DuplicateGroup> result;
    for (DuplicateGroup &group : byRoot) {
        if (group.rowids.size() < 2)
            continue;
        std::sort(group.reasons.begin(), group.reasons.end());
        result.append(group);
    }
    // The surest first: by the surest reason, then by how many reasons agree.
    std::stable_sort(result.begin(), result.end(), [](const auto &a, const auto &b) {
        if (a.reasons.first() != b.reasons.first())
            return a.reasons.first() < b.reasons.first();
        return a.reasons.size() > b.reasons.size();
    });
    return result;
}

Result<QList<StoredContact>> readStoredContacts(const QString &databasePath)
{
    sqlite::Connection db;
    if (Result<void> opened
        = ContactTable::open(db, databasePath, ContactTable::Access::ReadOnly, busyTimeoutMs);
        !opened)
        return opened.failure();
    QList<StoredContact> contacts;
    if (Result<void> read = ContactTable(db).forEachRow(
            [&contacts](const StoredContact &contact) { contacts.append(contact); });
        !read)
        return read.failure();
    return contacts;
}

Result<MergeOutcome>
mergeContacts(const QString &databasePath, qint64 keepRowid, qint64 otherRowid, bool dryRun)
{
    if (keepRowid == otherRowid)
        return Failure{QStringLiteral("A contact cannot be merged with itself.")};
    sqlite::Connection db;
    if (Result<void> opened
        = ContactTable::open(db, databasePath, ContactTable::Access::ReadWrite, busyTimeoutMs);
        !opened)
        return opened.failure();
    sqlite::Transaction transaction(db, sqlite::Transaction::Kind::Immediate);
    ContactTable table(db);
    if (!transaction.isActive())
        return table.failure();

    StoredContact keep;
    StoredContact other;
    for (auto &[rowid, contact] : {std::pair{keepRowid, &keep}, std::pair{otherRowid, &other}}) {
        const Result<std::optional<ContactValues>> values = table.row(rowid);
        if (!values)
            return values.failure();
        if (!*values)
            return Failure{QStringLiteral("There is no contact with rowid %1.").arg(rowid)};
        *contact = {rowid, **values};
    }

    MergeOutcome outcome;
    ContactValues merged = keep.values;
    for (int i = 1; i < contactFieldCount; ++i) { // contactid stays KEEP's
        const QString mine = keep.values[i];
        const QString theirs = other.values[i];
        if (theirs.isEmpty() || mine == theirs)
            continue;
        if (fieldAt(i) == ContactField::Notes) {
            merged[i] = mine.isEmpty() ? theirs : mine + QStringLiteral("\r\n\r\n") + theirs;
            outcome.notesJoined = !mine.isEmpty();
            if (mine.isEmpty())
                outcome.filled << columnName(fieldAt(i));
        } else if (mine.isEmpty()) {
            merged[i] = theirs;
            outcome.filled << columnName(fieldAt(i));
        } else {
            outcome.conflicting << columnName(fieldAt(i));
        }
    }

    if (const Result<bool> updated = table.update(keepRowid, merged, ContactTable::fieldsButId());
        !updated)
        return updated.failure();
    if (const Result<bool> removed = table.remove(otherRowid); !removed)
        return removed.failure();
    if (!dryRun && !transaction.commit())
        return table.failure();
    return outcome;
}

} // namespace contacts
