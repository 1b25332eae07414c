#include "connection.h"

#include <sqlite3.h>

#include <utility>

namespace sqlite {

namespace {

// SQLite's own words name the failure but often not its cause: "disk I/O error" for a file
// that reached its size limit, "attempt to write a readonly database" for a file that is
// writable in a folder that is not. The cause is what a user can act on.
QString cause(int extendedCode, int systemErrno)
{
    if (extendedCode == SQLITE_READONLY_DIRECTORY)
        return QStringLiteral("the folder of the database does not allow changes, so SQLite "
                              "cannot create its journal file there");
    const int primary = extendedCode & 0xff;
    if ((primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN)
        && systemErrno != 0)
        return qt_error_string(systemErrno);
    return {};
}

} // namespace

Connection::~Connection()
{
    close();
}

Connection::Connection(Connection &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_path(std::move(other.m_path))
    , m_error(std::move(other.m_error))
    , m_errorCode(other.m_errorCode)
{}

Connection &Connection::operator=(Connection &&other) noexcept
{
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_path = std::move(other.m_path);
        m_error = std::move(other.m_error);
        m_errorCode = other.m_errorCode;
    }
    return *this;
}

bool Connection::open(const QString &path, Mode mode)
{
    close();
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
    case Mode::ReadWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Mode::ReadOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    case Mode::ReadWriteCreate:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    }
    m_path = path;
    const QByteArray utf8 = path.toUtf8();
    const int rc = sqlite3_open_v2(utf8.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        if (m_db)
            captureError();
        else
            setError(rc, QString::fromUtf8(sqlite3_errstr(rc)));
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    return true;
}

void Connection::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool Connection::exec(const QString &sql)
{
    if (!m_db) {
        setError(SQLITE_MISUSE, QStringLiteral("the database is not open"));
        return false;
    }
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) {
        // The connection's error is the same text, with the extended code and the cause.
        captureError();
        return false;
    }
    return true;
}

void Connection::setBusyTimeout(int milliseconds)
{
    if (m_db)
        sqlite3_busy_timeout(m_db, milliseconds);
}

bool Connection::createCollation(const QString &name, Collation compare)
{
    if (!m_db) {
        setError(SQLITE_MISUSE, QStringLiteral("the database is not open"));
        return false;
    }
    auto *owned = new Collation(std::move(compare));
    const auto call
        = [](void *function, int lengthA, const void *a, int lengthB, const void *b) -> int {
        return (*static_cast<Collation *>(function))(
            QByteArrayView(static_cast<const char *>(a), lengthA),
            QByteArrayView(static_cast<const char *>(b), lengthB));
    };
    const auto destroy = [](void *function) {
        delete static_cast<Collation *>(function);
    };
    const int rc = sqlite3_create_collation_v2(m_db, name.toUtf8().constData(), SQLITE_UTF8, owned,
                                               call, destroy);
    if (rc != SQLITE_OK) {
        // SQLite calls destroy only for a collation it took.
        delete owned;
        captureError();
        return false;
    }
    return true;
}

int Connection::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

qint64 Connection::lastInsertRowid() const
{
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

void Connection::captureError()
{
    if (!m_db)
        return;
    const int code = sqlite3_extended_errcode(m_db);
    QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
    int systemErrno = sqlite3_system_errno(m_db);
    // SQLite reads errno only after its clean-up, which may have overwritten it; the
    // database file keeps the error of its own last failed call.
    if (systemErrno == 0)
        sqlite3_file_control(m_db, "main", SQLITE_FCNTL_LAST_ERRNO, &systemErrno);
    const QString why = cause(code, systemErrno);
    if (!why.isEmpty())
        message += QStringLiteral(" (%1)").arg(why);
    setError(code, message);
}

void Connection::setError(int code, const QString &message)
{
    m_errorCode = code;
    m_error = message;
}

} // namespace sqlite
