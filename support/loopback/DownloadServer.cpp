#include "DownloadServer.h"

#include <QtNetwork/QHostAddress>
#include <QtNetwork/QSslConfiguration>
#include <QtNetwork/QSslSocket>
#include <QtNetwork/QTcpSocket>

DownloadServer::DownloadServer(QObject* parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &DownloadServer::onNewConnection);
}

bool DownloadServer::start()
{
    return isListening() || listen(QHostAddress::LocalHost, 0);
}

void DownloadServer::addFile(const QString& urlPath, const QByteArray& body,
                             const QString& suggestedName)
{
    m_files.insert(urlPath, File { body, suggestedName, QUrl(), QByteArray() });
}

void DownloadServer::addPage(const QString& urlPath, const QByteArray& html,
                             const QByteArray& headers)
{
    m_files.insert(urlPath, File { html, QString(), QUrl(), headers });
}

void DownloadServer::hold(const QString& urlPath)
{
    m_held.insert(urlPath);
}

void DownloadServer::release(const QString& urlPath)
{
    m_held.remove(urlPath);
    while (releaseOne(urlPath)) {}
}

bool DownloadServer::releaseOne(const QString& urlPath)
{
    // values() lists the newest first.
    const QList<QPointer<QTcpSocket>> sockets = m_waiting.values(urlPath);
    for (auto it = sockets.crbegin(); it != sockets.crend(); ++it) {
        const QPointer<QTcpSocket> socket = *it;
        m_waiting.remove(urlPath, socket);
        if (!socket)
            continue;
        socket->write(response(urlPath, true));
        socket->disconnectFromHost();
        return true;
    }
    return false;
}

void DownloadServer::addRedirect(const QString& urlPath, const QUrl& target)
{
    m_files.insert(urlPath, File { QByteArray(), QString(), target, QByteArray() });
}

void DownloadServer::setTls(const QSslConfiguration& tls)
{
    m_tls = std::make_shared<QSslConfiguration>(tls);
}

void DownloadServer::incomingConnection(qintptr socketDescriptor)
{
    if (!m_tls) {
        QTcpServer::incomingConnection(socketDescriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(*m_tls);
    // A client that refuses the certificate just goes away.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->abort(); });
    socket->startServerEncryption();
    addPendingConnection(socket);
}

QUrl DownloadServer::url(const QString& urlPath) const
{
    QUrl u;
    u.setScheme(m_tls ? QStringLiteral("https") : QStringLiteral("http"));
    u.setHost(QStringLiteral("127.0.0.1"));
    u.setPort(serverPort());
    u.setPath(urlPath);
    return u;
}

void DownloadServer::onNewConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // One request per connection; answer once the head is complete.
            if (socket->property("answered").toBool())
                return;
            const QByteArray head = socket->peek(socket->bytesAvailable());
            if (!head.contains("\r\n\r\n") && head.size() < 16384)
                return;
            socket->setProperty("answered", true);
            socket->readAll();

            const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
            const QString path = QUrl(QString::fromLatin1(requestLine.value(1))).path();
            const bool known = requestLine.value(0) == "GET" && m_files.contains(path);

            if (known && m_held.contains(path)) {
                m_waiting.insert(path, socket);
                Q_EMIT held(path);
                return;
            }
            socket->write(response(path, known));
            socket->disconnectFromHost();
        });
    }
}

QByteArray DownloadServer::response(const QString& path, bool known) const
{
    // A copy: GCC 14 takes a reference into the map for a dangling one.
    const File file = known ? m_files.value(path) : File();
    QByteArray response;
    if (!known) {
        response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                   "Connection: close\r\n\r\n";
    } else if (file.redirect.isValid()) {
        response = "HTTP/1.1 302 Found\r\nLocation: " + file.redirect.toEncoded()
            + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    } else if (file.suggestedName.isEmpty()) {
        response = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + file.headers
            + "Content-Length: " + QByteArray::number(file.body.size())
            + "\r\nConnection: close\r\n\r\n" + file.body;
    } else {
        // The plain form carries the name as it is (also "../" or
        // quotes); the extended form carries it exactly for non-ASCII.
        QByteArray plain = file.suggestedName.toUtf8();
        plain.replace('"', "\\\"");
        response = "HTTP/1.1 200 OK\r\n"
                   "Content-Type: application/octet-stream\r\n"
                   "Content-Disposition: attachment; filename=\""
            + plain + "\"; filename*=UTF-8''" + QUrl::toPercentEncoding(file.suggestedName) + "\r\n"
            + "Content-Length: " + QByteArray::number(file.body.size()) + "\r\n"
            + "Connection: close\r\n\r\n" + file.body;
    }
    return response;
}
