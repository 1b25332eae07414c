#pragma once

#include "contactfields.h"

// The bound text fields of the contact store: the main window's seventeen text boxes, or a
// stand-in in tests. The store reads them when it commits and tells them what to show.
class FieldBinding
{
public:
    virtual ~FieldBinding() = default;

    // The text the field shows now, typed and unsaved text included.
    virtual QString fieldText(ContactField field) const = 0;

    // Shows the values of the record that became current. editable is false while there is
    // no current record and no pending new one: then nothing typed would have a place to go.
    virtual void showValues(const ContactValues &values, bool editable) = 0;
};

// Fields kept in memory: the binding of a store without a window.
class MemoryFieldBinding final : public FieldBinding
{
public:
    QString fieldText(ContactField field) const override { return m_values[fieldIndex(field)]; }
    void showValues(const ContactValues &values, bool editable) override
    {
        m_values = values;
        m_editable = editable;
    }

    void setFieldText(ContactField field, const QString &text)
    {
        m_values[fieldIndex(field)] = text;
    }
    const ContactValues &values() const { return m_values; }
    bool isEditable() const { return m_editable; }

private:
    ContactValues m_values;
    bool m_editable = false;
};
