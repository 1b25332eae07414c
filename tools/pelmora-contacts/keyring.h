#pragma once

#include <core/base/result.h>

#include <QString>

// The password of a sync account in the desktop's keyring (through qtkeychain, where the
// build found it). Where no keyring runs, the calls fail saying so.
namespace keyring {

Result<QString> readPassword(const QString &account);
Result<void> storePassword(const QString &account, const QString &password);

// Asks for a password on the terminal without showing it (or reads a line of standard input
// when that is no terminal).
QString askPassword(const QString &prompt);

} // namespace keyring
