#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A real CardDAV server from Debian for the sync tests: Radicale or Xandikos, on a free port
// of this machine, storing into a folder of its own. The user is "alice" with the password
// "secret" (Radicale checks it from its password file; Xandikos has no authentication of its
// own and takes any). Stopping and starting again keeps the port and the storage.
class DavServer
{
public:
    enum class Kind { Radicale, Xandikos };

    explicit DavServer(Kind kind);
    ~DavServer();

    // Starts the server and waits until it answers; on failure says why.
    bool start(QString &error);
    // Ends it at once (SIGKILL), as a crash or a pulled cable would.
    void stop();

    QString name() const;
    QUrl root() const;
    QUrl addressBook() const;
    // With TLS (Radicale only): a self-signed certificate made by openssl at first start.
    void setTls(bool on) { m_tls = on; }

private:
    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_tls = false;
};
