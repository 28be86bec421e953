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
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
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

ControlServer::ControlServer(const RequestGate& gate, QObject* parent)
    : QTcpServer(parent)
    , m_gate(gate)
{
    connect(this, &QTcpServer::newConnection, this, &ControlServer::onNewConnection);
}

bool ControlServer::start()
{
    if (!listen(QHostAddress::LocalHost, 0))
        return false;
    m_gate.setPort(serverPort());
    return true;
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
    const std::optional<HttpHead> head = HttpHead::parse(buffer.left(headEnd));
    if (!head) {
        socket->setProperty("request", QByteArray());
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        reply(socket, error(400, QStringLiteral("not an HTTP request")));
        return;
    }
    // Decided on the head alone: a refused request's body is never read.
    const RequestGate::Verdict verdict = m_gate.check(*head);
    if (!verdict.allowed) {
        socket->setProperty("request", QByteArray());
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        if (m_gate.allowsPreflight(*head)) {
            reply(socket, { 204, {} }, head->field("origin"));
            return;
        }
        reply(socket,
              error(403, QStringLiteral("forbidden: %1").arg(QString::fromUtf8(verdict.why))));
        return;
    }
    bool lengthOk = true;
    const qint64 length = head->field("content-length").isEmpty()
        ? 0
        : head->field("content-length").toLongLong(&lengthOk);
    if (!lengthOk || length < 0 || length > kMaxRequest) {
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
    const QString path = QString::fromUtf8(verdict.target).section(QLatin1Char('?'), 0, 0);
    const QByteArray origin = verdict.origin;
    const auto route = m_routes.constFind(path);
    if (route == m_routes.constEnd()) {
        reply(socket, error(404, QStringLiteral("no such control: %1").arg(path)), origin);
        return;
    }
    if (head->method != "POST") {
        reply(socket, error(405, QStringLiteral("POST only")), origin);
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
                          : QStringLiteral("the body is not a JSON object")),
                origin);
            return;
        }
        request = document.object();
    }
    reply(socket, route.value()(request), origin);
}

void ControlServer::reply(QTcpSocket* socket, const Answer& answer, const QByteArray& allowedOrigin)
{
    const QByteArray body = answer.status == 204
        ? QByteArray()
        : QJsonDocument(answer.body).toJson(QJsonDocument::Compact);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' '
        + reasonOf(answer.status) + "\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    // Only an origin the test named with --allow-origin reads an answer.
    if (!allowedOrigin.isEmpty())
        head += "Access-Control-Allow-Origin: " + allowedOrigin
            + "\r\nAccess-Control-Allow-Methods: POST\r\n"
              "Access-Control-Allow-Headers: Authorization, Content-Type\r\nVary: Origin\r\n";
    head += "\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
}
