#pragma once

#include <core/base/result.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Writes Access (Jet) database files holding one table, as test fixtures for the Jet import.
// The files are made from the published description of the format: a header page, the
// MSysObjects catalog that names the table, the table's definition page, data pages and
// long-value (memo) pages. No index is written.

enum class JetVersion { Jet3, Jet4 };

struct JetWriteOptions
{
    JetVersion version = JetVersion::Jet4;
    // Jet 4 only: text in the "compressed unicode" form wherever that is shorter (a value
    // holding a character whose low byte is zero, or a memo over 1,024 characters, stays
    // plain UTF-16).
    bool compressText = false;
    QString tableName = QStringLiteral("contactsdb");
    // Column names in table order; empty means the seventeen fields of contactsdb in their
    // order. A column named contactid (any case) is a Long Integer, one named Notes a Memo,
    // every other one Text(255).
    QStringList columns;
    // Jet 3: the code page of the file's text, written to the header and every text column.
    // 1252 is built in; any other must be known to Qt's converters by the name
    // "windows-<codePage>".
    int codePage = 1252;
};

// One value per column, in the order of JetWriteOptions::columns; nullopt is NULL. A
// contactid value must be a whole number that fits 32 bits.
using JetRow = QList<std::optional<QString>>;

// The whole file. Fails, naming the row and column, on a value the format cannot hold: a
// text over 255 characters, a character outside the Jet 3 code page, a row too long for a
// page, a contactid that is not a 32-bit whole number.
//
// Layout, fixed so that tests may damage a file on purpose: pages of 2,048 bytes (Jet 3) or
// 4,096 (Jet 4); page 0 the header, 1 the usage maps, 2 the catalog's definition, 3 the
// table's definition, 4 the catalog's rows, then the table's data pages in row order with
// memo pages among them. A memo whose stored form is at most 256 bytes stays in its row, a
// longer one goes to a page of its own, chained over several pages when one cannot hold it.
Result<QByteArray> jetFileBytes(const JetWriteOptions &options, const QList<JetRow> &rows);

// jetFileBytes() written to path; the failure names the file.
Result<void>
writeJetFile(const QString &path, const JetWriteOptions &options, const QList<JetRow> &rows);

// The seventeen column names of contactsdb, in table order.
QStringList jetContactColumns();

// count rows for the seventeen columns, the same for the same seed: ids counting up from
// 1, names, addresses and phone numbers of varying length, some NULL and some empty
// fields, short notes. With nonLatin, some names in Greek and Japanese (Jet 4 files only).
QList<JetRow> jetSampleRows(int count, quint32 seed, bool nonLatin = false);
