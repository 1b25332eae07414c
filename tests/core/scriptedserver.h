#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// An HTTP server of the tests' own on this machine that answers as the test scripts it, to
// play a CardDAV server that misbehaves, and that records every request reaching it. It
// serves on the thread's event loop, which the client's blocking calls keep running.
class ScriptedServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path; // as sent, percent-encoding and all
        QByteArray body;
        bool withPassword = false;
    };
    struct Reply
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // Sends body again and again, never ending, until the client goes (or 1 GiB, to stay
        // bounded whatever the client does).
        bool endless = false;
    };
    using Script = std::function<Reply(const Request &request)>;

    explicit ScriptedServer(Script script);
    bool listen();
    QUrl url(const QByteArray &path) const;
    const QList<Request> &requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket);
    void sendEndless(QTcpSocket *socket, const QByteArray &chunk);

    Script m_script;
    QTcpServer m_server;
    QList<Request> m_requests;
};
