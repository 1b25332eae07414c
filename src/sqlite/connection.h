#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

struct sqlite3;

namespace sqlite {

// One open SQLite database. Move-only; closes on destruction.
class Connection
{
public:
    enum class Mode {
        ReadWrite,       // never creates the file; falls back to read-only when the file is
        ReadOnly,        // write-protected, as SQLite does
        ReadWriteCreate, // for the project's own tools only
    };

    Connection() = default;
    ~Connection();
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Opens path; on failure returns false and errorMessage() says why.
    bool open(const QString &path, Mode mode);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Runs one or more statements that return no rows.
    bool exec(const QString &sql);
    void setBusyTimeout(int milliseconds);

    sqlite3 *handle() const { return m_db; }
    QString path() const { return m_path; }

    // The last error of this connection, in SQLite's words.
    QString errorMessage() const { return m_error; }
    int errorCode() const { return m_errorCode; }
    // Gives this connection a collating sequence of its own under name, replacing a built-in
    // one of that name (NOCASE) for this connection only; compare gets two UTF-8 texts and
    // answers below, at or above zero. Only for connections that never write: an index
    // built under the built-in order would not match.
    using Collation = std::function<int(QByteArrayView, QByteArrayView)>;
    bool createCollation(const QString &name, Collation compare);

    // Rows changed by the last INSERT, UPDATE or DELETE; the rowid of the last INSERT.
    int changes() const;
    qint64 lastInsertRowid() const;

private:
    friend class Statement;
    friend class Transaction;
    // Records the connection's current error.
    void captureError();
    void setError(int code, const QString &message);

    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_error;
    int m_errorCode = 0;
};

} // namespace sqlite
