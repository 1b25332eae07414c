#include "keyring.h"

#include <QEventLoop>

#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

#ifdef PELMORA_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTimer>

#include <optional>
#endif

namespace keyring {

namespace {

const QString service = QStringLiteral("Pelmora CardDAV");

#ifdef PELMORA_HAVE_KEYCHAIN
QString jobFailure(const QKeychain::Job &job)
{
    return QStringLiteral("The desktop's keyring cannot be used: %1\nWhere no keyring runs, "
                          "give the password with --password-file F at every sync.")
        .arg(job.errorString());
}

// A keyring that shows a prompt nobody answers would hold the tool (and a timer's sync)
// for good; one that does not run is not asked at all where nobody could answer it.
constexpr int answerWithinMs = 15000;

std::optional<Failure> unanswerable()
{
    if (isatty(STDIN_FILENO))
        return std::nullopt;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")))
        return std::nullopt;
    return Failure::input(QStringLiteral("No desktop keyring runs here, and nobody could answer "
                                         "one: give the password with --password-file F."));
}

Result<void> wait(QKeychain::Job &job)
{
    if (const std::optional<Failure> failure = unanswerable())
        return *failure;
    QEventLoop loop;
    bool answered = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        answered = true;
        loop.quit();
    });
    QTimer::singleShot(answerWithinMs, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    if (!answered)
        return Failure::input(QStringLiteral("The desktop's keyring did not answer within %1 s. "
                                             "Give the password with --password-file F.")
                                  .arg(answerWithinMs / 1000));
    return {};
}
#else
Failure notBuilt()
{
    return Failure{QStringLiteral("This build keeps no password in a keyring (qtkeychain was "
                                  "not found): give it with --password-file F.")};
}
#endif

} // namespace

Result<QString> readPassword(const QString &account)
{
#ifdef PELMORA_HAVE_KEYCHAIN
    QKeychain::ReadPasswordJob job(service);
    job.setAutoDelete(false);
    job.setKey(account);
    if (Result<void> waited = wait(job); !waited)
        return waited.failure();
    if (job.error() != QKeychain::NoError)
        return Failure{jobFailure(job)};
    return job.textData();
#else
    Q_UNUSED(account);
    return notBuilt();
#endif
}

Result<void> storePassword(const QString &account, const QString &password)
{
#ifdef PELMORA_HAVE_KEYCHAIN
    QKeychain::WritePasswordJob job(service);
    job.setAutoDelete(false);
    job.setKey(account);
    job.setTextData(password);
    if (Result<void> waited = wait(job); !waited)
        return waited;
    if (job.error() != QKeychain::NoError)
        return Failure{jobFailure(job)};
    return {};
#else
    Q_UNUSED(account);
    Q_UNUSED(password);
    return notBuilt();
#endif
}

QString askPassword(const QString &prompt)
{
    std::fprintf(stderr, "%s", qPrintable(prompt));
    std::fflush(stderr);
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
    }
    return QString::fromStdString(line);
}

} // namespace keyring
