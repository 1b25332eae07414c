#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>

#include <QByteArray>
#include <QList>
#include <QString>

namespace carddav {

// A field changed on both sides to different values: the local value was kept on both.
struct FieldConflict
{
    ContactField field;
    QString local;
    QString server;
};

struct MergeResult
{
    ContactValues merged;
    QList<FieldConflict> conflicts;
};

// Three-way merge per field against the values as last synced: a field changed on one side
// takes that side's value; changed on both to different values, the local value wins and the
// server's is reported. contactid is the program's own and always stays local.
MergeResult
mergeThreeWay(const ContactValues &base, const ContactValues &local, const ContactValues &server);

// What a card reads as in the program's fields (contactid left empty), and its UID.
struct CardContent
{
    ContactValues values;
    QString uid;
};
Result<CardContent> readCard(const QByteArray &card, const QString &where);

struct PatchedCard
{
    QByteArray card;
    // What the card reads as. It differs from what was wanted only where a card cannot hold
    // the fields' layout: an e-mail 1 cleared beside an e-mail 2 reads as e-mail 1, and a
    // work number cleared brings up the card's next work number.
    ContactValues values;
};

// Rewrites card so that it reads as wanted, touching only the properties that map to the
// fields whose value differs from what the card reads as now (N and FN for the names, the
// NICKNAME, ADR, TEL, EMAIL or NOTE that gave the field). Every other line, folding and line
// ending stays byte for byte. contactid is never written. Fails when a wanted value would be
// missing from what the result reads as, so that nothing is sent that would lose it.
Result<PatchedCard> patchCard(const QByteArray &card, const ContactValues &wanted);

// A new contact as a vCard 3.0 with the given UID and without the program's contactid.
QByteArray newCard(const ContactValues &values, const QString &uid);

} // namespace carddav
