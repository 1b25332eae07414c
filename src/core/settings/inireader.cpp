#include <core/settings/inireader.h>

#include <core/files/textdecoding.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace settings {

namespace {

QByteArray asciiLower(QByteArray bytes)
{
    for (char &c : bytes) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return bytes;
}

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("%1: %2").arg(path, reason);
}

// Matches one line at a time while the bytes stream past, keeping only what a match needs:
// the first bytes of the line, whether it holds "[", and where a candidate key line's value
// starts in the file. The value is read back from there once the line has matched, so a
// long line costs no memory even when a late "[" rules it out.
class LineMatcher
{
public:
    LineMatcher(QByteArray header, QByteArray keyPrefix)
        : m_header(std::move(header))
        , m_keyPrefix(std::move(keyPrefix))
        , m_headLimit(std::max(m_header.size(), m_keyPrefix.size()))
    {}

    // Adds the byte found at this offset of the file.
    void addByte(char c, qint64 offset)
    {
        ++m_length;
        if (c == '[') {
            // Such a line is never a key line.
            m_hasBracket = true;
            m_candidate = false;
        }
        if (m_head.size() < m_headLimit)
            m_head.append(c);
        if (m_length == m_keyPrefix.size()) {
            m_candidate = m_inSection && !m_hasBracket && asciiLower(m_head) == m_keyPrefix;
            m_valueOffset = offset + 1;
        }
    }

    // Ends the current line; returns true when it was the wanted key line.
    bool endLine()
    {
        bool found = false;
        if (m_hasBracket)
            m_inSection = false;
        if (m_length == m_header.size() && asciiLower(m_head) == m_header)
            m_inSection = true;
        else if (m_candidate)
            found = true;
        m_valueLength = found ? m_length - m_keyPrefix.size() : 0;
        m_head.clear();
        m_hasBracket = false;
        m_candidate = false;
        m_length = 0;
        return found;
    }

    bool lineStarted() const { return m_length > 0; }
    // Where the value of the matched key line lies in the file.
    qint64 valueOffset() const { return m_valueOffset; }
    qint64 valueLength() const { return m_valueLength; }

private:
    const QByteArray m_header;
    const QByteArray m_keyPrefix;
    const qsizetype m_headLimit;
    QByteArray m_head;
    qint64 m_length = 0;
    qint64 m_valueOffset = 0;
    qint64 m_valueLength = 0;
    bool m_hasBracket = false;
    bool m_candidate = false;
    bool m_inSection = false;
};

Result<QString> readValue(QFile &file, const QString &path, const LineMatcher &matcher)
{
    if (!file.seek(matcher.valueOffset()))
        return Failure{failure(path, file.errorString())};
    const QByteArray value = file.read(matcher.valueLength());
    if (value.size() != matcher.valueLength())
        return Failure{failure(path, QStringLiteral("the file changed while it was read"))};
    return files::decodeText(value);
}

} // namespace

Result<QString> readIniKey(const QString &path, const QString &section, const QString &key)
{
    const QFileInfo info(path);
    if (info.isDir())
        return Failure{failure(path, QStringLiteral("the path is a folder, not a file"))};

    QFile file(path);
    if (!info.exists()) {
        const QFileInfo folder(info.absolutePath());
        if (!folder.isDir())
            return Failure{failure(path, QStringLiteral("the folder %1 does not exist")
                                             .arg(QDir::toNativeSeparators(folder.filePath())))};
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return Failure{failure(path, file.errorString())};
        file.close();
    }

    // A read-only settings file becomes writable again; when that is refused (another
    // user's file, a read-only file system) it is still read.
    const QFile::Permissions permissions = file.permissions();
    if (!(permissions & QFile::WriteOwner))
        file.setPermissions(permissions | QFile::WriteOwner);

    if (!file.open(QIODevice::ReadOnly))
        return Failure{failure(path, file.errorString())};

    LineMatcher matcher("[" + asciiLower(section.toUtf8()) + "]", asciiLower(key.toUtf8()) + "=");
    bool afterCarriageReturn = false;
    char buffer[64 * 1024];
    qint64 offset = 0;
    for (;;) {
        const qint64 read = file.read(buffer, sizeof buffer);
        if (read < 0)
            return Failure{failure(path, file.errorString())};
        if (read == 0)
            break;
        for (qint64 i = 0; i < read; ++i, ++offset) {
            const char c = buffer[i];
            if (c == '\n' && afterCarriageReturn) {
                afterCarriageReturn = false;
                continue;
            }
            afterCarriageReturn = c == '\r';
            if (c == '\r' || c == '\n') {
                if (matcher.endLine())
                    return readValue(file, path, matcher);
            } else {
                matcher.addByte(c, offset);
            }
        }
    }
    if (matcher.lineStarted() && matcher.endLine())
        return readValue(file, path, matcher);
    return QString();
}

} // namespace settings
