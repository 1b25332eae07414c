#pragma once

#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QFile>
#include <QStringList>

// Reads the first column of a query straight from the database file, beside the store.
inline QStringList queryColumn(const QString &path, const QString &sql)
{
    sqlite::Connection db;
    QStringList values;
    if (!db.open(path, sqlite::Connection::Mode::ReadOnly))
        return {QStringLiteral("<cannot open: %1>").arg(db.errorMessage())};
    sqlite::Statement statement(db, sql);
    while (statement.step() == sqlite::Statement::Step::Row)
        values << statement.columnText(0);
    return values;
}

inline bool execOn(const QString &path, const QString &sql)
{
    sqlite::Connection db;
    return db.open(path, sqlite::Connection::Mode::ReadWrite) && db.exec(sql);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
