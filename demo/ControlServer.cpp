#include "ControlServer.h"

#include <QtCore/QJsonDocument>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpSocket>

namespace {

ControlServer::Answer error(int status, const QString& why)
{
    return { status, QJsonObject { { QStringLiteral("error"), why } } };
}

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    default:
        return "Error";
    }
}

} // namespace

ControlServer::ControlServer(QObject* parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &ControlServer::onNewConnection);
}

bool ControlServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QString ControlServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

void ControlServer::route(const QString& path, Handler handler)
{
    m_routes.insert(path, std::move(handler));
}

void ControlServer::onNewConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    }
}

void ControlServer::onReadyRead(QTcpSocket* socket)
{
    // The whole request is gathered first: the head, then Content-Length
    // bytes of body.
    QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
    if (buffer.size() > kMaxRequest) {
        socket->setProperty("request", QByteArray());
        reply(socket, error(413, QStringLiteral("request too large")));
        return;
    }
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty("request", buffer);
        return;
    }
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (length < 0 || length > kMaxRequest) {
        socket->setProperty("request", QByteArray());
        reply(socket, error(413, QStringLiteral("request too large")));
        return;
    }
    if (buffer.size() - headEnd - 4 < length) {
        socket->setProperty("request", buffer);
        return;
    }
    socket->setProperty("request", QByteArray());
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    if (requestLine.size() < 2) {
        reply(socket, error(400, QStringLiteral("no request line")));
        return;
    }
    const QString path = QString::fromUtf8(requestLine.at(1)).section(QLatin1Char('?'), 0, 0);
    const auto route = m_routes.constFind(path);
    if (route == m_routes.constEnd()) {
        reply(socket, error(404, QStringLiteral("no such control: %1").arg(path)));
        return;
    }
    if (requestLine.at(0) != "POST") {
        reply(socket, error(405, QStringLiteral("POST only")));
        return;
    }
    const QByteArray body = buffer.mid(headEnd + 4, length);
    QJsonObject request;
    if (!body.trimmed().isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (!document.isObject()) {
            reply(
                socket,
                error(400,
                      parseError.error != QJsonParseError::NoError
                          ? QStringLiteral("the body is not JSON: %1").arg(parseError.errorString())
                          : QStringLiteral("the body is not a JSON object")));
            return;
        }
        request = document.object();
    }
    reply(socket, route.value()(request));
}

void ControlServer::reply(QTcpSocket* socket, const Answer& answer)
{
    const QByteArray body = QJsonDocument(answer.body).toJson(QJsonDocument::Compact);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' '
        + reasonOf(answer.status) + "\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
}
