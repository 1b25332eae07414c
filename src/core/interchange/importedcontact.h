#pragma once

#include <core/contacts/contactfields.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One contact read from a vCard or CSV file, in the program's seventeen fields. contactid is
// left empty: the importer gives ids by the program's rule. What did not fit a field is kept
// in extras as readable "Label: value" lines, never dropped silently.
struct ImportedContact
{
    ContactValues values;
    QStringList extras;
    int line = 0; // where the card or row starts in its file, counting from 1
};

// A card or row that could not be read, and why.
struct SkippedEntry
{
    int line = 0;
    QString reason;
};

// What a reader got out of one file: the readable contacts, in file order, and the skips.
struct ReadContacts
{
    QList<ImportedContact> contacts;
    QList<SkippedEntry> skipped;
};

// Every field but Notes holds one line: the form shows and edits it as one.
bool isOneLineField(ContactField field);
// A value for a one-line field: its lines, without the blanks at their ends and without the
// empty ones, joined by ", ". A line breaks at CR LF, CR or LF.
QString asOneLine(const QString &text);

struct PostalAddress
{
    QString street;
    QString city;
    QString state;
    QString zip;
    QString country;
};

// Builds an ImportedContact from what a reader finds in a card or a row, by the one policy
// of where things go, whatever the file's format. Phones, e-mails and addresses are placed
// when the contact is taken: the preferred first (1 is the most preferred, 100 the least;
// notPreferred for none), the rest in the order they came.
// - A phone number takes the field its types name: fax, then cell or mobile, then home, then
//   work. One whose types name none of them, or only voice, internet, other, main or x-...,
//   is untyped and takes the first free of Home Phone, Work Phone and Cell after the typed
//   ones have theirs.
// - An e-mail takes the first free of Email Address 1 and 2; one marked as the second takes
//   Email Address 2 while that is free.
// - Of the addresses, the first preferred one, else the first whose types name home, else the
//   first, fills the five address fields.
// Whatever finds no free field is kept in extras under its label. A value for a one-line
// field is made one line (asOneLine).
class ImportedContactBuilder
{
public:
    static constexpr int notPreferred = 101;

    explicit ImportedContactBuilder(int line);

    // A value that replaces what the field holds.
    void setField(ContactField field, const QString &value);
    // A value that fills the field when it is empty. Otherwise an address is added to with
    // ", ", notes with a blank line, and any other field's value goes to extras. An empty
    // value is left out.
    void addField(ContactField field, const QString &value, const QString &label);
    // label: for extras; by default "Phone (types)", or "Phone" without types.
    void addPhone(const QStringList &types,
                  const QString &number,
                  int preference = notPreferred,
                  const QString &label = QString());
    // A number the file puts in one of the four phone fields itself.
    void addPhone(ContactField field, const QString &number, const QString &label);
    void addEmail(const QString &address,
                  const QString &label,
                  int preference = notPreferred,
                  bool second = false);
    void addAddress(const QStringList &types,
                    const PostalAddress &address,
                    const QString &label,
                    int preference = notPreferred);
    // "Label: value", or the label alone for an empty value.
    void addExtra(const QString &label, const QString &value);

    ImportedContact take();

private:
    struct Phone
    {
        std::optional<ContactField> field; // none: untyped, or typed as no field is
        bool untyped = false;
        QString number;
        QStringList types;
        QString label;
        int preference = notPreferred;

        QString extraLabel() const
        {
            if (!label.isEmpty())
                return label;
            return types.isEmpty() ? QStringLiteral("Phone")
                                   : QStringLiteral("Phone (%1)").arg(types.join(u','));
        }
    };
    struct Email
    {
        QString address;
        QString label;
        int preference = notPreferred;
        bool second = false;
    };
    struct Address
    {
        PostalAddress address;
        QString label;
        int preference = notPreferred;
        bool home = false;
    };

    QString &value(ContactField field) { return m_contact.values[fieldIndex(field)]; }
    void placeAddresses();
    void placePhones();
    void placeEmails();

    ImportedContact m_contact;
    QList<Phone> m_phones;
    QList<Email> m_emails;
    QList<Address> m_addresses;
};
