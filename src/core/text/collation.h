#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>

#include <memory>

// The locale whose rules order and index names: the one the C library would use for
// collation (LC_ALL, else LC_COLLATE, else LANG). "C", "POSIX" or nothing set give ICU's
// root order, which is plain Unicode order with accents after their letters.
QLocale collationLocale();
// The same as an ICU locale id ("de_DE", "sv", "" for the root).
QByteArray collationLocaleId();

// Compares names as their readers expect, ignoring case as the stored NOCASE order does:
// the one collation for everything that orders names.
class NameCollator
{
public:
    NameCollator();

    // A key computed once per name: comparing keys is much cheaper than comparing names.
    QCollatorSortKey sortKey(const QString &name) const { return m_collator.sortKey(name); }
    int compare(const QString &a, const QString &b) const { return m_collator.compare(a, b); }

private:
    QCollator m_collator;
};

// Folds a name for telling whether two names are one: case, accents and blanks count for
// nothing, by the same locale's rules (in Swedish Ö stays apart from O, in German it does
// not). Equal keys, equal names.
class NameFolder
{
public:
    NameFolder();
    ~NameFolder();
    NameFolder(const NameFolder &) = delete;
    NameFolder &operator=(const NameFolder &) = delete;

    QByteArray key(const QString &name) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
