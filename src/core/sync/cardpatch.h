#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>

#include <QByteArray>
#include <QString>

// The sync's view of a server's card: what it reads as, and the card rewritten so that it
// reads as wanted while every line the program has no field for stays as the server has it.
namespace carddav {

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
