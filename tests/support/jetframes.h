#pragma once

// Frames as the Jet reader process writes them (core/interchange/jetimport.h describes the
// format), for tests that play the reader with tests/core/fakejetreader.

#include <QByteArray>
#include <QList>

#include <optional>

using Value = std::optional<QByteArray>;

inline QByteArray u32(quint32 value)
{
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += char((value >> shift) & 0xFF);
    return bytes;
}

inline QByteArray frame(char kind, const QByteArray &payload)
{
    return kind + u32(quint32(payload.size())) + payload;
}

inline QByteArray values(const QList<Value> &list)
{
    QByteArray payload = u32(quint32(list.size()));
    for (const Value &value : list)
        payload += value ? u32(quint32(value->size())) + *value : u32(0xFFFFFFFF);
    return payload;
}

inline QByteArray header(const QList<QByteArray> &names)
{
    QList<Value> list;
    for (const QByteArray &name : names)
        list << Value(name);
    return frame('H', values(list));
}

inline QByteArray row(const QList<Value> &list)
{
    return frame('R', values(list));
}

inline QByteArray end(quint32 rows)
{
    return frame('E', u32(rows));
}

// A file the stand-in reader acts out; it starts as a Jet file does.
inline QByteArray script(const QByteArray &action, const QByteArray &stdoutBytes)
{
    return QByteArray("\0\1\0\0Standard Jet DB\0", 20) + "\nFAKE " + action + '\n' + stdoutBytes;
}
