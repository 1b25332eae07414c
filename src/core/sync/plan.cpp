#include <core/sync/plan.h>

#include <core/sync/merge.h>

#include <algorithm>

namespace carddav {

SyncAction SyncAction::nothing(QString notice)
{
    SyncAction action;
    action.notice = std::move(notice);
    return action;
}

SyncAction SyncAction::forget(const SyncedState &state)
{
    SyncAction action;
    action.m_kind = Kind::Forget;
    action.m_state = state;
    return action;
}

SyncAction SyncAction::addHere(SyncedState state, const ContactValues &values, QString notice)
{
    SyncAction action;
    action.m_kind = Kind::AddHere;
    action.m_state = std::move(state);
    action.m_values = values;
    action.notice = std::move(notice);
    return action;
}

SyncAction SyncAction::removeHere(const SyncedState &state)
{
    SyncAction action;
    action.m_kind = Kind::RemoveHere;
    action.m_state = state;
    return action;
}

SyncAction SyncAction::upload(Reason reason,
                              SyncedState state,
                              const QByteArray &card,
                              const ContactValues &values)
{
    SyncAction action;
    action.m_kind = Kind::Upload;
    action.m_reason = reason;
    action.m_etag = state.etag;
    action.m_state = std::move(state);
    action.m_card = card;
    action.m_values = values;
    return action;
}

SyncAction SyncAction::deleteThere(const SyncedState &state, const QString &etag)
{
    SyncAction action;
    action.m_kind = Kind::Delete;
    action.m_state = state;
    action.m_etag = etag;
    return action;
}

SyncAction SyncAction::takeServer(SyncedState state, const ContactValues &values)
{
    SyncAction action;
    action.m_kind = Kind::TakeServer;
    action.m_state = std::move(state);
    action.m_values = values;
    return action;
}

QString namedContact(const ContactValues &v)
{
    QString name = v[fieldIndex(ContactField::LastName)];
    if (!v[fieldIndex(ContactField::FirstName)].isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(", "))
                + v[fieldIndex(ContactField::FirstName)];
    if (name.isEmpty())
        name = v[fieldIndex(ContactField::Email1)];
    return name.isEmpty() ? QStringLiteral("(no name)") : name;
}

bool sameContent(const ContactValues &a, const ContactValues &b)
{
    return std::equal(a.begin() + 1, a.end(), b.begin() + 1);
}

namespace {

// The state a new card from the server starts with.
SyncedState stateOf(const QString &href, const ServerCard &card)
{
    SyncedState state;
    state.href = href;
    state.etag = card.etag;
    state.uid = card.uid;
    state.vcard = card.vcard;
    state.base = card.values;
    return state;
}

// A contact here and on the server (server null: as last synced): the three-way merge,
// and the card to send where the merge is not what the server holds.
SyncAction merged(const SyncedState &known,
                  const ContactValues &here,
                  const ServerCard *server,
                  SyncAction::Reason reason)
{
    const QByteArray &card = server ? server->vcard : known.vcard;
    const ContactValues &serverValues = server ? server->values : known.base;
    const MergeResult merge = mergeThreeWay(known.base, here, serverValues);
    ContactValues values = merge.merged;
    values[fieldIndex(ContactField::ContactId)] = here[fieldIndex(ContactField::ContactId)];
    SyncedState state = known;
    state.pending = false;
    if (server) {
        state.etag = server->etag;
        state.vcard = server->vcard;
    }
    if (sameContent(values, serverValues)) {
        state.base = values;
        SyncAction action = SyncAction::takeServer(state, values);
        action.conflicts = merge.conflicts;
        return action;
    }
    const Result<PatchedCard> patched = patchCard(card, values);
    if (!patched)
        return SyncAction::nothing(QStringLiteral("%1 (%2): not sent: %3")
                                       .arg(namedContact(here), known.href, patched.error()));
    // Kept here as the card reads, so that both sides hold the same.
    QList<ContactField> moved;
    for (int i = 1; i < contactFieldCount; ++i) {
        if (patched->values[i] != values[i]) {
            moved << fieldAt(i);
            values[i] = patched->values[i];
        }
    }
    state.vcard = patched->card;
    state.base = reason == SyncAction::Reason::SentAgain ? here : values;
    SyncAction action = SyncAction::upload(reason, state, patched->card, values);
    action.conflicts = merge.conflicts;
    action.moved = moved;
    return action;
}

} // namespace

SyncAction planContact(const ContactSides &sides)
{
    const ServerSide &server = sides.server;
    const ServerCard *fetched
        = server.kind() == ServerSide::Kind::Changed ? &server.card() : nullptr;
    if (!sides.known) {
        if (!fetched)
            return SyncAction::nothing();
        return SyncAction::addHere(stateOf(sides.href, *fetched), fetched->values, QString());
    }
    const SyncedState &known = *sides.known;

    if (!sides.here) {
        if (!server.isThere())
            return SyncAction::forget(known);
        // A new ETag on the same content (a server that rewrote the card, or this program's
        // own PUT whose answer was lost) is no change. After a DELETE met a changed copy,
        // the copy is not deleted again: it is what someone else wants.
        if (!sides.retried && (!fetched || sameContent(fetched->values, known.base)))
            return SyncAction::deleteThere(known, fetched ? fetched->etag : known.etag);
        if (!fetched) // gone meanwhile
            return SyncAction::forget(known);
        return SyncAction::addHere(
            stateOf(known.href, *fetched), fetched->values,
            QStringLiteral("%1: deleted here but changed on the server; brought back.")
                .arg(namedContact(fetched->values)));
    }
    const ContactValues &here = *sides.here;

    if (!server.isThere()) {
        if (known.pending) {
            // New here: made again from the values of now, which may have been edited since
            // an earlier run stored the state.
            SyncedState state = known;
            state.vcard = newCard(here, known.uid);
            state.base = here;
            state.pending = false;
            state.etag.clear();
            return SyncAction::upload(SyncAction::Reason::NewHere, state, state.vcard, here);
        }
        if (sameContent(here, known.base))
            return SyncAction::removeHere(known);
        // Changed here after it was deleted on the server: sent up again, at its old address.
        SyncedState again = known;
        again.etag.clear();
        const ServerCard gone{QString(), known.vcard, known.base, known.uid};
        return merged(again, here, &gone, SyncAction::Reason::SentAgain);
    }

    const bool localChanged = !sameContent(here, known.base);
    if (!localChanged && !fetched)
        return SyncAction::nothing();
    SyncAction action = merged(known, here, fetched, SyncAction::Reason::Merged);
    action.localChanged = localChanged;
    action.serverChanged = fetched && !sameContent(fetched->values, known.base);
    return action;
}

} // namespace carddav
