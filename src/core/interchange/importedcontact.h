#pragma once

#include <core/contacts/contactfields.h>

#include <QList>
#include <QString>
#include <QStringList>

// One contact read from a vCard or CSV file, in the program's seventeen fields. contactid is
// left empty: the importer gives ids by the program's rule. What did not fit a field is kept
// in extras as readable "Label: value" lines, never dropped silently.
struct ImportedContact
{
    ContactValues values;
    QStringList extras;
    int line = 0; // where the card or row starts in its file, counting from 1
};

// A card or row that could not be read, and why.
struct SkippedEntry
{
    int line = 0;
    QString reason;
};

// What a reader got out of one file: the readable contacts, in file order, and the skips.
struct ReadContacts
{
    QList<ImportedContact> contacts;
    QList<SkippedEntry> skipped;
};
