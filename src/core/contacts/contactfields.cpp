#include <core/contacts/contactfields.h>

namespace {

struct FieldInfo
{
    const char *column;
    const char *caption;
    const char *control;
};

constexpr std::array<FieldInfo, contactFieldCount> fields{{
    {"contactid", "Contact ID", "txtContactID"},
    {"lastname", "Last Name", "txtLastName"},
    {"firstname", "First Name", "txtFirstName"},
    {"Middle", "Middle", "txtMiddle"},
    {"Nick Name", "Nick Name", "txtNickName"},
    {"Address", "Address", "txtAddress"},
    {"State", "State", "txtState"},
    {"City", "City", "txtCity"},
    {"Zip\\Postal Code", "Zip\\Postal Code", "txtZip"},
    {"Country", "Country", "txtCountry"},
    {"Home Phone", "Home Phone", "txtHomePhone"},
    {"Work Phone", "Work Phone", "txtWorkPhone"},
    {"Cell", "Cell", "txtCell"},
    {"Fax", "Fax", "txtFax"},
    {"Email Address 1", "Email Address 1", "txtEmail1"},
    {"Email Address 2", "Email Address 2", "txtEmail2"},
    {"Notes", "Notes", "txtNotes"},
}};

} // namespace

QString columnName(ContactField field)
{
    return QString::fromLatin1(fields[fieldIndex(field)].column);
}

QString quotedColumnName(ContactField field)
{
    return QLatin1Char('"') + columnName(field) + QLatin1Char('"');
}

QString fieldCaption(ContactField field)
{
    return QString::fromLatin1(fields[fieldIndex(field)].caption);
}

QString fieldControlName(ContactField field)
{
    return QString::fromLatin1(fields[fieldIndex(field)].control);
}
