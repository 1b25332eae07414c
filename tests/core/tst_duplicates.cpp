// Likely duplicates and merging two contacts into one.
#include <support/dbquery.h>
#include <support/testappfolder.h>

#include <core/contacts/duplicates.h>

#include <QScopeGuard>
#include <QTest>

using contacts::DuplicateGroup;
using Reason = DuplicateGroup::Reason;

namespace {

// "id:last:first:home:email" -> a stored contact whose rowid is its id.
contacts::StoredContact person(const QString &description)
{
    const QStringList parts = description.split(QLatin1Char(':'));
    contacts::StoredContact contact;
    contact.rowid = parts.value(0).toLongLong();
    contact.values = makeContact(parts.value(0), parts.value(1), parts.value(2));
    contact.values[fieldIndex(ContactField::HomePhone)] = parts.value(3);
    contact.values[fieldIndex(ContactField::Email1)] = parts.value(4);
    return contact;
}

} // namespace

class TestDuplicates : public QObject
{
    Q_OBJECT

private slots:
    void groups_data();
    void groups();
    void merge_data();
    void merge();
};

void TestDuplicates::groups_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QStringList>("contacts");
    QTest::addColumn<QStringList>("expected"); // "ids/reasons" per group, surest first
    QTest::newRow("e-mail ignoring case")
        << QByteArray("C") << QStringList{"1:Lee:Ann::ann@x.org", "2:Kim:Bo::ANN@X.org"}
        << QStringList{"1,2/0"};
    QTest::newRow("phone digits, the last seven at least")
        << QByteArray("C")
        << QStringList{"1:Lee:Ann:+44 20 7946 0958:", "2:Kim:Bo:(020) 7946-0958:",
                       "3:Ray:Cy:020 7946 0959:", "4:Ng:Al:46-0958:"}
        << QStringList{"1,2/1"};
    QTest::newRow("names folded: case, accents, blanks")
        << QByteArray("C") << QStringList{"1:De Souza:José::", "2:desouza:JOSE::", "3:Souza:Jo::"}
        << QStringList{"1,2/2"};
    QTest::newRow("Swedish: Ö is not O")
        << QByteArray("sv_SE.UTF-8") << QStringList{"1:Öberg:Ida::", "2:Oberg:Ida::"}
        << QStringList{};
    QTest::newRow("German: Ö folds to O")
        << QByteArray("de_DE.UTF-8") << QStringList{"1:Öberg:Ida::", "2:Oberg:Ida::"}
        << QStringList{"1,2/2"};
    QTest::newRow("swapped first and last name")
        << QByteArray("C") << QStringList{"1:Lee:Ann::", "2:Ann:Lee::", "3:Lee:Lee::"}
        << QStringList{"1,2/3"};
    QTest::newRow("surest first, reasons joined")
        << QByteArray("C")
        << QStringList{"1:Lee:Ann::", "2:lee:ann::", "3:Kim:Bo:5551234567:",
                       "4:Ray:Cy:555-123-4567:b@x", "5:Kim:Bo::B@X"}
        << QStringList{"3,4,5/0,1,2", "1,2/2"};
}

void TestDuplicates::groups()
{
    QFETCH(QByteArray, locale);
    QFETCH(QStringList, contacts);
    QFETCH(QStringList, expected);
    const QByteArray before = qgetenv("LC_ALL");
    qputenv("LC_ALL", locale);
    const auto restore = qScopeGuard([&before] { qputenv("LC_ALL", before); });
    QList<contacts::StoredContact> stored;
    for (const QString &line : contacts)
        stored << person(line);
    QStringList actual;
    for (const DuplicateGroup &group : contacts::findDuplicates(stored)) {
        QStringList ids;
        QStringList reasons;
        for (qint64 rowid : group.rowids)
            ids << QString::number(rowid);
        for (Reason reason : group.reasons)
            reasons << QString::number(int(reason));
        actual << ids.join(QLatin1Char(',')) + QLatin1Char('/') + reasons.join(QLatin1Char(','));
    }
    QCOMPARE(actual, expected);
}

void TestDuplicates::merge_data()
{
    // Ids the program would not give, as older databases and other programs hold them.
    QTest::addColumn<QString>("keepId");
    QTest::addColumn<QString>("otherId");
    QTest::newRow("ids 1 and 2") << "1"
                                 << "2";
    QTest::newRow("ids 0 and -5") << "0"
                                  << "-5";
    QTest::newRow("ids 2^31 - 1 and 2^63 - 1") << "2147483647"
                                               << "9223372036854775807";
    QTest::newRow("a text id and a repeated one") << "A1"
                                                  << "3";
}

void TestDuplicates::merge()
{
    QFETCH(QString, keepId);
    QFETCH(QString, otherId);
    TestAppFolder folder;
    ContactValues keep = makeContact(keepId, "Lee", "Ann");
    keep[fieldIndex(ContactField::City)] = QStringLiteral("Oslo");
    keep[fieldIndex(ContactField::Notes)] = QStringLiteral("met 2020");
    ContactValues other = makeContact(otherId, "Lee", "Anne");
    other[fieldIndex(ContactField::City)] = QStringLiteral("Oslo");
    other[fieldIndex(ContactField::Cell)] = QStringLiteral("555 1234");
    other[fieldIndex(ContactField::Notes)] = QStringLiteral("plays chess");
    QVERIFY(folder.createDatabase({keep, other, makeContact("3", "Kim", "Bo")}));
    const QByteArray before = fileBytes(folder.databasePath());
    const Result<QList<contacts::StoredContact>> stored
        = contacts::readStoredContacts(folder.databasePath());
    QVERIFY2(stored, qPrintable(stored.error()));
    QStringList read;
    for (const contacts::StoredContact &contact : *stored)
        read << QStringLiteral("%1:%2").arg(contact.rowid).arg(contact.values[0]);
    QCOMPARE(read, (QStringList{"1:" + keepId, "2:" + otherId, "3:3"}));

    Result<contacts::MergeOutcome> dry = contacts::mergeContacts(folder.databasePath(), 1, 2, true);
    QVERIFY2(dry, qPrintable(dry.error()));
    QCOMPARE(fileBytes(folder.databasePath()), before);

    const Result<contacts::MergeOutcome> done
        = contacts::mergeContacts(folder.databasePath(), 1, 2, false);
    QVERIFY2(done, qPrintable(done.error()));
    QCOMPARE(done->filled, QStringList{"Cell"});
    QCOMPARE(done->conflicting, QStringList{"firstname"});
    QVERIFY(done->notesJoined);
    QCOMPARE(queryColumn(folder.databasePath(),
                         "select contactid || '|' || firstname || '|' || City || '|' || Cell || "
                         "'|' || Notes from contactsdb order by rowid"),
             (QStringList{keepId + "|Ann|Oslo|555 1234|met 2020\r\n\r\nplays chess", "3|Bo|||"}));
    QVERIFY(!contacts::mergeContacts(folder.databasePath(), 1, 2, false));
}

QTEST_GUILESS_MAIN(TestDuplicates)
#include "tst_duplicates.moc"
