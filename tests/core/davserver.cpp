#include "davserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

DavServer::DavServer(Kind kind)
    : m_kind(kind)
{}

DavServer::~DavServer()
{
    stop();
}

QString DavServer::name() const
{
    return m_kind == Kind::Radicale ? QStringLiteral("radicale") : QStringLiteral("xandikos");
}

QUrl DavServer::root() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_port));
}

QUrl DavServer::addressBook() const
{
    return root().resolved(QUrl(m_kind == Kind::Radicale
                                    ? QStringLiteral("/alice/contacts/")
                                    : QStringLiteral("/user/contacts/addressbook/")));
}

bool DavServer::start(QString &error)
{
    const QString program = QStandardPaths::findExecutable(name());
    if (program.isEmpty()) {
        error = name() + QStringLiteral(" is not installed: run scripts/setup.sh");
        return false;
    }
    if (!m_dir.isValid()) {
        error = QStringLiteral("no temporary folder");
        return false;
    }
    if (m_port == 0)
        m_port = freePort();
    const QString dir = m_dir.path();
    QStringList arguments;
    if (m_kind == Kind::Radicale) {
        const QString book = dir + QStringLiteral("/storage/collection-root/alice/contacts");
        QByteArray config = "[server]\nhosts = 127.0.0.1:" + QByteArray::number(m_port)
                            + "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " + dir.toUtf8()
                            + "/users\nhtpasswd_encryption = plain\n[storage]\nfilesystem_folder = "
                            + dir.toUtf8()
                            + "/storage\n[rights]\ntype = owner_only\n"
                              "[logging]\nlevel = warning\n";
        if (m_tls) {
            if (!QFile::exists(dir + QStringLiteral("/cert.pem"))) {
                QProcess openssl;
                openssl.start(QStringLiteral("openssl"),
                              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                               "-subj", "/CN=127.0.0.1", "-keyout", dir + "/key.pem", "-out",
                               dir + "/cert.pem"});
                if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
                    error = QStringLiteral("openssl could not make a certificate: ")
                            + QString::fromUtf8(openssl.readAllStandardError());
                    return false;
                }
            }
            config.replace("[auth]", "ssl = True\ncertificate = " + dir.toUtf8()
                                         + "/cert.pem\nkey = " + dir.toUtf8() + "/key.pem\n[auth]");
        }
        if (!QDir().mkpath(book) || !writeFile(dir + QStringLiteral("/users"), "alice:secret\n")
            || !writeFile(book + QStringLiteral("/.Radicale.props"),
                          R"({"D:displayname": "Contacts", "tag": "VADDRESSBOOK"})")
            || !writeFile(dir + QStringLiteral("/config"), config)) {
            error = QStringLiteral("cannot write Radicale's files in ") + dir;
            return false;
        }
        arguments << QStringLiteral("--config") << dir + QStringLiteral("/config");
    } else {
        arguments << QStringLiteral("-d") << dir + QStringLiteral("/storage")
                  << QStringLiteral("--defaults") << QStringLiteral("-l")
                  << QStringLiteral("127.0.0.1") << QStringLiteral("-p") << QString::number(m_port);
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(dir + QStringLiteral("/server.log"), QIODevice::Append);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        error = name() + QStringLiteral(" did not start: ") + m_process.errorString();
        return false;
    }
    // Up when it accepts a connection.
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            break;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    QFile log(dir + QStringLiteral("/server.log"));
    log.open(QIODevice::ReadOnly);
    error = name() + QStringLiteral(" does not answer on port %1: ").arg(m_port)
            + QString::fromUtf8(log.readAll().right(2000));
    return false;
}

void DavServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}
