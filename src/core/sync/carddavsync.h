#pragma once

#include <core/base/result.h>
#include <core/sync/syncstate.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace carddav {

class DavClient;

struct AddressBook
{
    QUrl url;
    QString name; // the displayname, or the last part of the path where there is none
};

// Finds the address books of the user from a server address: the address itself, or its
// /.well-known/carddav, then current-user-principal and addressbook-home-set.
Result<QList<AddressBook>> discoverAddressBooks(DavClient &client, const QUrl &server);

// Stores the account with the database (making the sync tables where there are none),
// replacing an earlier one and forgetting its sync state: the new address book starts over.
// Each opens the database for the one call; a sync opens it once (SyncState::open).
Result<void> saveAccount(const QString &databasePath, const Account &account);
Result<std::optional<Account>> loadAccount(const QString &databasePath);

struct SyncOptions
{
    QString databasePath;
    QString password;
    // Where the server's values of conflicting fields are written (appended).
    QString conflictLogPath;
    QString acceptCertificate; // a fingerprint to pin for this run and keep
    int timeoutMs = 60000;
    // For a listing of the whole address book, which a server makes in full before it sends
    // a byte: Radicale took 54 s for one of 100,000 contacts.
    int listingTimeoutMs = 600000;
    int busyTimeoutMs = 10000;
    // Called as the work goes on: done of total steps (fetches and writes).
    std::function<void(int done, int total)> progress;
    // Called just before each write to the server (PUT or DELETE), with its address; tests
    // change the server copy here to make the write meet a 412.
    std::function<void(const QByteArray &method, const QUrl &url)> beforeWrite;
};

struct SyncReport
{
    int addedHere = 0;
    int changedHere = 0;
    int deletedHere = 0;
    int addedThere = 0;
    int changedThere = 0;
    int deletedThere = 0;
    int bothSides = 0;     // contacts changed on both sides, merged
    QStringList conflicts; // one line per field, as written to the conflict log
    QStringList notices;   // contacts sent up again, brought back, or left for the next sync
    bool usedSyncToken = false;

    QString summary() const;
};

// One two-way sync of the database's account, over the database's one connection. Local
// changes are written in one transaction at the end; every write to the server is
// conditional. A sync that fails on the way leaves both sides consistent and the next one
// converges: state -> plan -> actions -> state.
Result<SyncReport> synchronise(SyncState &state, const SyncOptions &options);
// The same, opening options.databasePath.
Result<SyncReport> synchronise(const SyncOptions &options);

} // namespace carddav
