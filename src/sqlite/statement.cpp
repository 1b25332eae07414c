#include "statement.h"

#include "connection.h"

#include <sqlite3.h>

#include <utility>

namespace sqlite {

Statement::Statement(Connection &connection, const QString &sql)
    : m_connection(&connection)
{
    if (!connection.handle()) {
        connection.setError(SQLITE_MISUSE, QStringLiteral("the database is not open"));
        return;
    }
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(connection.handle(), utf8.constData(), int(utf8.size()), &m_stmt,
                           nullptr)
        != SQLITE_OK) {
        connection.captureError();
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement &&other) noexcept
    : m_connection(other.m_connection)
    , m_stmt(std::exchange(other.m_stmt, nullptr))
{}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_connection = other.m_connection;
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

bool Statement::bindText(int index, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    // An empty QString binds as empty text, never as NULL.
    const int rc = sqlite3_bind_text64(m_stmt, index, utf8.isNull() ? "" : utf8.constData(),
                                       sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        m_connection->captureError();
    return rc == SQLITE_OK;
}

bool Statement::bindInt64(int index, qint64 value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK)
        m_connection->captureError();
    return rc == SQLITE_OK;
}

bool Statement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        m_connection->captureError();
    return rc == SQLITE_OK;
}

Statement::Step Statement::step()
{
    if (!m_stmt)
        return Step::Error;
    switch (sqlite3_step(m_stmt)) {
    case SQLITE_ROW:
        return Step::Row;
    case SQLITE_DONE:
        return Step::Done;
    default:
        m_connection->captureError();
        return Step::Error;
    }
}

bool Statement::reset()
{
    if (!m_stmt)
        return false;
    sqlite3_clear_bindings(m_stmt);
    return sqlite3_reset(m_stmt) == SQLITE_OK;
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString Statement::columnText(int column) const
{
    const QByteArrayView bytes = columnUtf8(column);
    return QString::fromUtf8(bytes.data(), bytes.size());
}

QByteArrayView Statement::columnUtf8(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return text ? QByteArrayView(text, size) : QByteArrayView();
}

qint64 Statement::columnInt64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::columnIsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

} // namespace sqlite
