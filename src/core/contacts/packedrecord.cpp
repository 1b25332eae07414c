#include <core/contacts/packedrecord.h>

PackedRecord PackedRecord::fromValues(const ContactValues &values)
{
    std::array<QByteArray, contactFieldCount> utf8;
    for (int i = 0; i < contactFieldCount; ++i)
        utf8[i] = values[i].toUtf8();
    return fromUtf8([&utf8](int i) { return QByteArrayView(utf8[i]); });
}

QByteArrayView PackedRecord::utf8(int field) const
{
    const quint32 begin = field == 0 ? 0 : m_ends[field - 1];
    return QByteArrayView(m_bytes.constData() + begin, qsizetype(m_ends[field] - begin));
}

QString PackedRecord::value(int field) const
{
    const QByteArrayView bytes = utf8(field);
    return QString::fromUtf8(bytes.data(), bytes.size());
}

ContactValues PackedRecord::values() const
{
    ContactValues result;
    for (int i = 0; i < contactFieldCount; ++i)
        result[i] = value(i);
    return result;
}
