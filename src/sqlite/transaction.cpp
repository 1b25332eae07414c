#include "transaction.h"

#include "connection.h"

#include <sqlite3.h>

namespace sqlite {

Transaction::Transaction(Connection &connection, Kind kind)
    : m_connection(connection)
{
    m_active = m_connection.exec(kind == Kind::Immediate ? QStringLiteral("BEGIN IMMEDIATE")
                                                         : QStringLiteral("BEGIN"));
}

Transaction::~Transaction()
{
    if (m_active && m_connection.handle() && !sqlite3_get_autocommit(m_connection.handle())) {
        // Keep the error that made us roll back, not the rollback's own.
        const QString message = m_connection.errorMessage();
        const int code = m_connection.errorCode();
        m_connection.exec(QStringLiteral("ROLLBACK"));
        m_connection.setError(code, message);
    }
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    if (!m_connection.exec(QStringLiteral("COMMIT")))
        return false;
    m_active = false;
    return true;
}

} // namespace sqlite
