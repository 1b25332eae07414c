#pragma once

#include <QByteArrayView>
#include <QString>

struct sqlite3_stmt;

namespace sqlite {

class Connection;

// One prepared statement. Errors are recorded on the connection.
class Statement
{
public:
    enum class Step { Row, Done, Error };

    Statement() = default;
    Statement(Connection &connection, const QString &sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }

    // Parameters count from 1, as in SQLite.
    bool bindText(int index, const QString &value);
    bool bindInt64(int index, qint64 value);
    bool bindNull(int index);

    Step step();
    bool reset();

    // Columns count from 0. Text is what SQLite gives for any type; NULL reads as empty.
    int columnCount() const;
    QString columnName(int column) const;
    QString columnText(int column) const;
    QByteArrayView columnUtf8(int column) const;
    qint64 columnInt64(int column) const;
    bool columnIsNull(int column) const;

    sqlite3_stmt *handle() const { return m_stmt; }

private:
    Connection *m_connection = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace sqlite
