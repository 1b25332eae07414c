// The sync's decisions: the three-way merge of one contact's fields, and what to do with one
// contact from its three sides: as last synced, here and on the server. The runner that carries the
// decisions out is tested against real servers in tst_carddavsync.

#include <core/sync/cardpatch.h>
#include <core/sync/merge.h>
#include <core/sync/plan.h>

#include <QTest>

using F = ContactField;
using carddav::FieldConflict;
using Kind = carddav::SyncAction::Kind;
using Reason = carddav::SyncAction::Reason;

namespace {

ContactValues withChange(const QString &change)
{
    ContactValues values;
    values[fieldIndex(F::ContactId)] = QStringLiteral("4");
    values[fieldIndex(F::LastName)] = QStringLiteral("Dunn");
    values[fieldIndex(F::FirstName)] = QStringLiteral("Al");
    values[fieldIndex(F::Cell)] = QStringLiteral("1");
    // "Cell=2" or "Cell=2,FirstName=Bo": the fields that differ from the contact as synced.
    for (const QString &assignment : change.split(u',', Qt::SkipEmptyParts)) {
        const QString name = assignment.section(u'=', 0, 0);
        const QString value = assignment.section(u'=', 1);
        values[fieldIndex(name == QLatin1String("Cell")        ? F::Cell
                          : name == QLatin1String("FirstName") ? F::FirstName
                                                               : F::Notes)]
            = value;
    }
    return values;
}

enum Side { Absent, AsLastSynced, Changed };

ContactValues contact(std::initializer_list<std::pair<ContactField, QString>> fields)
{
    ContactValues values;
    for (const auto &[field, value] : fields)
        values[fieldIndex(field)] = value;
    return values;
}

} // namespace

class TestSyncPlan : public QObject
{
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
    void plan_data();
    void plan();
};

void TestSyncPlan::merge_data()
{
    QTest::addColumn<ContactValues>("base");
    QTest::addColumn<ContactValues>("local");
    QTest::addColumn<ContactValues>("server");
    QTest::addColumn<ContactValues>("merged");
    QTest::addColumn<int>("conflicts");
    using F = ContactField;
    const ContactValues base
        = contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "1"}});
    QTest::newRow("unchanged") << base << base << base << base << 0;
    QTest::newRow("changed here only")
        << base << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "2"}}) << base
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "2"}}) << 0;
    QTest::newRow("changed there only")
        << base << base << contact({{F::LastName, "Dunn"}, {F::Cell, "3"}})
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "3"}}) << 0;
    QTest::newRow("both, different fields")
        << base << contact({{F::ContactId, "4"}, {F::LastName, "Dunne"}, {F::Cell, "1"}})
        << contact({{F::LastName, "Dunn"}, {F::Cell, "3"}, {F::Notes, "hi"}})
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunne"}, {F::Cell, "3"}, {F::Notes, "hi"}})
        << 0;
    QTest::newRow("both, same field, same value")
        << base << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}})
        << contact({{F::LastName, "Dunn"}, {F::Cell, "5"}})
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}}) << 0;
    QTest::newRow("both, same field: local wins")
        << base << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}})
        << contact({{F::LastName, "Dunn"}, {F::Cell, "6"}})
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}}) << 1;
    QTest::newRow("emptied there, changed here")
        << base << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}})
        << contact({{F::LastName, "Dunn"}})
        << contact({{F::ContactId, "4"}, {F::LastName, "Dunn"}, {F::Cell, "5"}}) << 1;
}

void TestSyncPlan::merge()
{
    QFETCH(ContactValues, base);
    QFETCH(ContactValues, local);
    QFETCH(ContactValues, server);
    QFETCH(ContactValues, merged);
    QFETCH(int, conflicts);
    const carddav::MergeResult result = carddav::mergeThreeWay(base, local, server);
    QCOMPARE(result.merged, merged);
    QCOMPARE(result.conflicts.size(), conflicts);
    for (const FieldConflict &conflict : result.conflicts) {
        QCOMPARE(conflict.local, local[fieldIndex(conflict.field)]);
        QCOMPARE(conflict.server, server[fieldIndex(conflict.field)]);
    }
}

void TestSyncPlan::plan_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<QString>("here"); // null: not here; else the change from the synced values
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("serverChange");
    QTest::addColumn<bool>("retried");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("reason");   // for an upload
    QTest::addColumn<QString>("etag"); // the ETag a write must match (empty: none may exist)
    QTest::addColumn<QString>("cell"); // the Cell field afterwards, for actions with values
    QTest::addColumn<int>("conflicts");

    const QString unchanged = QStringLiteral("");
    const QString gone;
    const int none = -1;
    // clang-format off
    QTest::newRow("unchanged on both sides")
        << true << false << unchanged << int(AsLastSynced) << "" << false
        << int(Kind::Nothing) << none << "" << "" << 0;
    QTest::newRow("changed here")
        << true << false << "Cell=2" << int(AsLastSynced) << "" << false
        << int(Kind::Upload) << int(Reason::Merged) << "\"e1\"" << "2" << 0;
    QTest::newRow("changed there")
        << true << false << unchanged << int(Changed) << "Cell=3" << false
        << int(Kind::TakeServer) << none << "" << "3" << 0;
    QTest::newRow("both, other fields")
        << true << false << "Cell=2" << int(Changed) << "FirstName=Bo" << false
        << int(Kind::Upload) << int(Reason::Merged) << "\"e2\"" << "2" << 0;
    QTest::newRow("both, one field: here wins, the server's is reported")
        << true << false << "Cell=2" << int(Changed) << "Cell=3" << false
        << int(Kind::Upload) << int(Reason::Merged) << "\"e2\"" << "2" << 1;
    QTest::newRow("both to the same value")
        << true << false << "Cell=2" << int(Changed) << "Cell=2" << false
        << int(Kind::TakeServer) << none << "" << "2" << 0;
    QTest::newRow("a new ETag on the same content")
        << true << false << unchanged << int(Changed) << "" << false
        << int(Kind::TakeServer) << none << "" << "1" << 0;
    QTest::newRow("deleted here, unchanged there")
        << true << false << gone << int(AsLastSynced) << "" << false
        << int(Kind::Delete) << none << "\"e1\"" << "" << 0;
    QTest::newRow("deleted here, same content under a new ETag")
        << true << false << gone << int(Changed) << "" << false
        << int(Kind::Delete) << none << "\"e2\"" << "" << 0;
    QTest::newRow("deleted here, changed there: brought back")
        << true << false << gone << int(Changed) << "Cell=3" << false
        << int(Kind::AddHere) << none << "" << "3" << 0;
    QTest::newRow("deleted here, the DELETE met a new copy: brought back")
        << true << false << gone << int(Changed) << "" << true
        << int(Kind::AddHere) << none << "" << "1" << 0;
    QTest::newRow("deleted on both sides")
        << true << false << gone << int(Absent) << "" << false
        << int(Kind::Forget) << none << "" << "" << 0;
    QTest::newRow("deleted there, unchanged here")
        << true << false << unchanged << int(Absent) << "" << false
        << int(Kind::RemoveHere) << none << "" << "" << 0;
    QTest::newRow("deleted there, changed here: sent again")
        << true << false << "Cell=2" << int(Absent) << "" << false
        << int(Kind::Upload) << int(Reason::SentAgain) << "" << "2" << 0;
    QTest::newRow("new here")
        << true << true << unchanged << int(Absent) << "" << false
        << int(Kind::Upload) << int(Reason::NewHere) << "" << "1" << 0;
    QTest::newRow("new here, edited since its state was stored")
        << true << true << "Cell=2" << int(Absent) << "" << false
        << int(Kind::Upload) << int(Reason::NewHere) << "" << "2" << 0;
    QTest::newRow("new here, deleted before it was sent")
        << true << true << gone << int(Absent) << "" << false
        << int(Kind::Forget) << none << "" << "" << 0;
    QTest::newRow("new here, an earlier PUT went through")
        << true << true << unchanged << int(Changed) << "" << false
        << int(Kind::TakeServer) << none << "" << "1" << 0;
    QTest::newRow("new on the server")
        << false << false << gone << int(Changed) << "Cell=3" << false
        << int(Kind::AddHere) << none << "" << "3" << 0;
    // clang-format on
}

void TestSyncPlan::plan()
{
    QFETCH(bool, known);
    QFETCH(bool, pending);
    QFETCH(QString, here);
    QFETCH(int, server);
    QFETCH(QString, serverChange);
    QFETCH(bool, retried);
    QFETCH(int, kind);
    QFETCH(int, reason);
    QFETCH(QString, etag);
    QFETCH(QString, cell);
    QFETCH(int, conflicts);

    const QString uid = QStringLiteral("u-1");
    const QString href = QStringLiteral("/book/u-1.vcf");
    carddav::ContactSides sides;
    sides.href = href;
    sides.retried = retried;
    if (known) {
        carddav::SyncedState state;
        state.rowid = 7;
        state.href = href;
        state.uid = uid;
        state.base = withChange(QString());
        state.pending = pending;
        state.etag = pending ? QString() : QStringLiteral("\"e1\"");
        state.vcard = carddav::newCard(state.base, uid);
        sides.known = state;
    }
    if (!here.isNull())
        sides.here = withChange(here);
    if (server == AsLastSynced)
        sides.server = carddav::ServerSide::asLastSynced();
    if (server == Changed) {
        ContactValues values = withChange(serverChange);
        values[fieldIndex(F::ContactId)].clear();
        const QByteArray card = carddav::newCard(values, uid);
        sides.server = carddav::ServerSide::changed({QStringLiteral("\"e2\""), card, values, uid});
    }

    const carddav::SyncAction action = carddav::planContact(sides);
    QCOMPARE(int(action.kind()), kind);
    QCOMPARE(action.conflicts.size(), conflicts);
    if (action.kind() == Kind::Upload) {
        QCOMPARE(int(action.reason()), reason);
        QCOMPARE(action.etag(), etag);
        // What is sent reads back as the values kept here.
        const Result<carddav::CardContent> sent = carddav::readCard(action.card(), href);
        QVERIFY2(sent, qPrintable(sent.error()));
        QCOMPARE(sent->values[fieldIndex(F::Cell)], cell);
        QCOMPARE(sent->uid, uid);
    }
    if (action.kind() == Kind::Delete)
        QCOMPARE(action.etag(), etag);
    if (action.kind() == Kind::Upload || action.kind() == Kind::TakeServer
        || action.kind() == Kind::AddHere) {
        QCOMPARE(action.values()[fieldIndex(F::Cell)], cell);
        // The state kept is what both sides hold afterwards.
        QVERIFY(!action.state().pending);
        QCOMPARE(action.state().href, href);
    }
    if (action.kind() == Kind::TakeServer && server == Changed)
        QCOMPARE(action.state().etag, QStringLiteral("\"e2\""));
    if (action.kind() == Kind::Forget || action.kind() == Kind::RemoveHere
        || action.kind() == Kind::Delete)
        QCOMPARE(action.state().rowid, qint64(7));
}

QTEST_GUILESS_MAIN(TestSyncPlan)
#include "tst_syncplan.moc"
