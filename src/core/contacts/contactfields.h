#pragma once

#include <QString>

#include <array>

// The seventeen fields of a contact, in the table's order and the main window's tab order.
enum class ContactField {
    ContactId,
    LastName,
    FirstName,
    Middle,
    NickName,
    Address,
    State,
    City,
    Zip,
    Country,
    HomePhone,
    WorkPhone,
    Cell,
    Fax,
    Email1,
    Email2,
    Notes,
};

constexpr int contactFieldCount = 17;

// Every field of one contact, as text.
using ContactValues = std::array<QString, contactFieldCount>;

constexpr int fieldIndex(ContactField field)
{
    return static_cast<int>(field);
}

constexpr ContactField fieldAt(int index)
{
    return static_cast<ContactField>(index);
}

// The column name in contactsdb, exactly as the table spells it ("Zip\Postal Code").
QString columnName(ContactField field);
// The column name quoted for SQL.
QString quotedColumnName(ContactField field);
// The caption of the field's label on the main window ("Contact ID", "Last Name", ...).
QString fieldCaption(ContactField field);
// The objectName of the field's text box (txtContactID, txtLastName, ...).
QString fieldControlName(ContactField field);
