#include "DevToolsProxy.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpSocket>

namespace {

// One client's connection and, once let through, the engine's.
class Relay : public QObject
{
public:
    Relay(QTcpSocket* client, const RequestGate& gate, quint16 enginePort, QObject* parent)
        : QObject(parent)
        , m_pClient(client)
        , m_gate(gate)
        , m_nEnginePort(enginePort)
    {
        client->setParent(this);
        connect(client, &QTcpSocket::readyRead, this, &Relay::onClientData);
        connect(client, &QTcpSocket::disconnected, this, &Relay::onClientGone);
    }

private:
    void onClientData()
    {
        const QByteArray data = m_pClient->readAll();
        if (m_pEngine) {
            // A WebSocket's frames, or the rest of a request's body.
            m_pEngine->write(data);
            return;
        }
        if (m_bDecided)
            return;
        m_request += data;
        const qsizetype headEnd = m_request.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_request.size() > DevToolsProxy::kMaxHead)
                refuse(431, "Request Header Fields Too Large", "request head too large");
            return;
        }
        m_bDecided = true;
        std::optional<HttpHead> head = HttpHead::parse(m_request.left(headEnd));
        if (!head) {
            refuse(400, "Bad Request", "not an HTTP request");
            return;
        }
        const RequestGate::Verdict verdict = m_gate.check(*head);
        if (!verdict.allowed) {
            // puppeteer.connect({ browserURL }) shows only the reason phrase.
            refuse(403, "Forbidden (DevTools of a served run: connect with browserWSEndpoint)",
                   "forbidden: " + verdict.why);
            return;
        }
        m_bWebSocket = head->field("upgrade").toLower() == "websocket";
        m_host = head->field("host");
        m_bRewrite = !m_bWebSocket && verdict.target.startsWith("/json");
        head->target = verdict.target;
        head->removeField("authorization");
        if (!m_bWebSocket)
            head->setField("connection", "close"); // one request, one answer
        const QByteArray forward = head->toBytes() + m_request.mid(headEnd + 4);
        m_request.clear();

        m_pEngine = new QTcpSocket(this);
        connect(m_pEngine, &QTcpSocket::readyRead, this, &Relay::onEngineData);
        connect(m_pEngine, &QTcpSocket::disconnected, this, &Relay::onEngineGone);
        connect(m_pEngine, &QTcpSocket::errorOccurred, this, [this] {
            if (!m_bAnswered && m_pEngine->state() != QAbstractSocket::ConnectedState)
                refuse(502, "Bad Gateway", "DevTools do not answer");
        });
        m_pEngine->connectToHost(QHostAddress::LocalHost, m_nEnginePort);
        // Kept until connected, before anything the client sends later.
        m_pEngine->write(forward);
    }

    void onEngineData()
    {
        const QByteArray data = m_pEngine->readAll();
        m_bAnswered = m_bAnswered || !data.isEmpty();
        if (!m_bRewrite) {
            m_pClient->write(data);
            return;
        }
        m_response += data;
        const qsizetype headEnd = m_response.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const std::optional<qsizetype> length = contentLength(m_response.left(headEnd));
        if (length && m_response.size() - headEnd - 4 >= *length)
            sendRewritten();
    }

    void onEngineGone()
    {
        if (m_bRewrite && !m_response.isEmpty())
            sendRewritten();
        if (m_pClient->state() == QAbstractSocket::ConnectedState)
            m_pClient->disconnectFromHost();
    }

    void onClientGone()
    {
        if (m_pEngine && m_pEngine->state() != QAbstractSocket::UnconnectedState)
            m_pEngine->disconnectFromHost();
        deleteLater();
    }

    // The engine's listings name its WebSocket addresses on the Host they
    // were asked under, this proxy's: they get the secret as their first
    // segment, so that each address handed out works as it is.
    void sendRewritten()
    {
        const qsizetype headEnd = m_response.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            m_pClient->disconnectFromHost();
            return;
        }
        QByteArray body = m_response.mid(headEnd + 4);
        const std::optional<qsizetype> length = contentLength(m_response.left(headEnd));
        if (length)
            body.truncate(*length);
        body.replace("\"ws://" + m_host + "/devtools/",
                     "\"ws://" + m_host + '/' + m_gate.secret() + "/devtools/");
        QList<QByteArray> lines = m_response.left(headEnd).split('\n');
        lines.removeIf([](const QByteArray& line) {
            return line.trimmed().toLower().startsWith("content-length:");
        });
        QByteArray head = lines.join('\n');
        if (!head.endsWith('\r'))
            head += '\r';
        head += "\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        m_response.clear();
        m_bRewrite = false;
        m_pClient->write(head + body);
        m_pClient->disconnectFromHost();
    }

    static std::optional<qsizetype> contentLength(const QByteArray& head)
    {
        for (const QByteArray& line : head.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (trimmed.toLower().startsWith("content-length:")) {
                bool ok = false;
                const qsizetype n = trimmed.mid(15).trimmed().toLongLong(&ok);
                if (ok && n >= 0)
                    return n;
            }
        }
        return std::nullopt;
    }

    void refuse(int status, const QByteArray& reason, const QByteArray& why)
    {
        m_bDecided = true;
        m_bAnswered = true;
        const QByteArray body
            = QJsonDocument(QJsonObject { { QStringLiteral("error"), QString::fromUtf8(why) } })
                  .toJson(QJsonDocument::Compact);
        m_pClient->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
                         + "\r\nContent-Type: application/json\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
                         + body);
        m_pClient->disconnectFromHost();
    }

    QTcpSocket* m_pClient = nullptr;
    QPointer<QTcpSocket> m_pEngine;
    const RequestGate& m_gate;
    quint16 m_nEnginePort = 0;
    QByteArray m_request;
    QByteArray m_response;
    QByteArray m_host;
    bool m_bDecided = false;
    bool m_bWebSocket = false;
    bool m_bRewrite = false;
    bool m_bAnswered = false;
};

} // namespace

DevToolsProxy::DevToolsProxy(const RequestGate& gate, quint16 enginePort, QObject* parent)
    : QTcpServer(parent)
    , m_gate(gate)
    , m_nEnginePort(enginePort)
{
    connect(this, &QTcpServer::newConnection, this, &DevToolsProxy::onNewConnection);
}

bool DevToolsProxy::start()
{
    if (!listen(QHostAddress::LocalHost, 0))
        return false;
    m_gate.setPort(serverPort());
    return true;
}

QString DevToolsProxy::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

QString DevToolsProxy::webSocketUrl(const QString& enginePath) const
{
    return QStringLiteral("ws://127.0.0.1:%1/%2%3")
        .arg(serverPort())
        .arg(QString::fromLatin1(m_gate.secret()), enginePath);
}

void DevToolsProxy::onNewConnection()
{
    while (QTcpSocket* socket = nextPendingConnection())
        new Relay(socket, m_gate, m_nEnginePort, this);
}
