#pragma once

#include <core/contacts/contactfields.h>

#include <QByteArray>
#include <QByteArrayView>

#include <array>

// The seventeen values of one row, kept as UTF-8 in one buffer. 100,000 contacts held as
// seventeen QStrings each would take several times the memory.
class PackedRecord
{
public:
    PackedRecord() = default;

    template<typename ValueAt>
    static PackedRecord fromUtf8(ValueAt valueAt)
    {
        PackedRecord record;
        for (int i = 0; i < contactFieldCount; ++i) {
            const QByteArrayView value = valueAt(i);
            record.m_bytes.append(value.data(), value.size());
            record.m_ends[i] = quint32(record.m_bytes.size());
        }
        record.m_bytes.squeeze();
        return record;
    }

    static PackedRecord fromValues(const ContactValues &values);

    QString value(int field) const;
    QByteArrayView utf8(int field) const;
    ContactValues values() const;

private:
    QByteArray m_bytes;
    std::array<quint32, contactFieldCount> m_ends{};
};
