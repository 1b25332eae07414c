#pragma once

namespace sqlite {

class Connection;

// A transaction that rolls back unless commit() succeeded.
class Transaction
{
public:
    enum class Kind { Deferred, Immediate };

    Transaction(Connection &connection, Kind kind);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit();

private:
    Connection &m_connection;
    bool m_active = false;
};

} // namespace sqlite
