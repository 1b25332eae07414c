#include "scriptedserver.h"

#include <QHostAddress>
#include <QTcpSocket>

ScriptedServer::ScriptedServer(Script script)
    : m_script(std::move(script))
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool ScriptedServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

QUrl ScriptedServer::url(const QByteArray &path) const
{
    return QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(m_server.serverPort())
                             + path);
}

void ScriptedServer::serve(QTcpSocket *socket)
{
    // One request at a time per connection: its head, then Content-Length bytes of body.
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            break;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = first.value(0);
        request.path = first.value(1);
        qsizetype length = 0;
        for (const QByteArray &line : lines) {
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            if (colon > 0 && name == "content-length")
                length = line.mid(colon + 1).trimmed().toLongLong();
            if (name == "authorization")
                request.withPassword = true;
        }
        if (buffer.size() < headEnd + 4 + length)
            break;
        request.body = buffer.mid(headEnd + 4, length);
        buffer.remove(0, headEnd + 4 + length);
        m_requests << request;

        const Reply reply = m_script(request);
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
        for (const auto &[name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        if (reply.endless) {
            socket->write(head + "Connection: close\r\n\r\n");
            sendEndless(socket, reply.body);
            return;
        }
        socket->write(head + "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n"
                      + reply.body);
    }
    socket->setProperty("buffer", buffer);
}

void ScriptedServer::sendEndless(QTcpSocket *socket, const QByteArray &chunk)
{
    constexpr qint64 bound = qint64(1) << 30;
    auto more = [socket, chunk, sent = qint64(0)]() mutable {
        while (socket->bytesToWrite() < 4 * chunk.size() && sent < bound
               && socket->state() == QAbstractSocket::ConnectedState)
            sent += socket->write(chunk);
        if (sent >= bound)
            socket->disconnectFromHost();
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}
