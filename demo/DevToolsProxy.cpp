#include "DevToolsProxy.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpSocket>
#include <optional>

namespace {

// One direction of a WebSocket, cut into its frames: a frame up to
// kMaxWhole bytes comes whole to whole(), the bytes of a larger one to
// part() as they arrive (last: its end).
class FrameSplitter
{
public:
    static constexpr qint64 kMaxWhole = 1 << 20;

    template<typename Whole, typename Part> void feed(QByteArray data, Whole whole, Part part)
    {
        if (m_nRest > 0) {
            const qint64 n = qMin<qint64>(m_nRest, data.size());
            m_nRest -= n;
            part(data.left(n), m_nRest == 0);
            data.remove(0, n);
        }
        m_buffer += data;
        while (m_nRest == 0 && m_buffer.size() >= 2) {
            const auto b1 = quint8(m_buffer.at(1));
            const int lengthBytes = (b1 & 0x7f) == 126 ? 2 : (b1 & 0x7f) == 127 ? 8 : 0;
            const qint64 head = 2 + lengthBytes + ((b1 & 0x80) ? 4 : 0);
            if (m_buffer.size() < head)
                return;
            quint64 length = b1 & 0x7f;
            if (lengthBytes > 0) {
                length = 0;
                for (int i = 0; i < lengthBytes; ++i)
                    length = (length << 8) | quint8(m_buffer.at(2 + i));
            }
            if (length > quint64(kMaxWhole)) {
                const qint64 n = qMin<qint64>(m_buffer.size(), head + qint64(length));
                m_nRest = head + qint64(length) - n;
                part(m_buffer.left(n), m_nRest == 0);
                m_buffer.remove(0, n);
                continue;
            }
            if (m_buffer.size() < head + qint64(length))
                return;
            whole(m_buffer.left(head + qint64(length)), head);
            m_buffer.remove(0, head + qint64(length));
        }
    }

private:
    QByteArray m_buffer;
    qint64 m_nRest = 0; // of a large frame still to come
};

// A text frame from the proxy to the client (unmasked, as servers send).
QByteArray textFrame(const QByteArray& text)
{
    QByteArray frame(1, char(0x81));
    if (text.size() < 126) {
        frame += char(text.size());
    } else if (text.size() < 65536) {
        frame += char(126);
        frame += char(text.size() >> 8);
        frame += char(text.size() & 0xff);
    } else {
        frame += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((quint64(text.size()) >> shift) & 0xff);
    }
    return frame + text;
}

// The answer the proxy gives itself to a DevTools command that the engine
// does not serve but a driver needs as it attaches: Playwright's
// connectOverCDP sets the download behaviour of the default browser
// context, which the engine refuses ("Browser context management is not
// supported"). Downloads stay the host's (the module decides on each).
std::optional<QByteArray> ownAnswer(const QByteArray& message)
{
    const QJsonObject command = QJsonDocument::fromJson(message).object();
    if (command.value(QLatin1String("method")).toString()
            != QLatin1String("Browser.setDownloadBehavior")
        || command.contains(QLatin1String("sessionId"))
        || !command.value(QLatin1String("id")).isDouble())
        return std::nullopt;
    return QJsonDocument(QJsonObject { { QStringLiteral("id"), command.value(QLatin1String("id")) },
                                       { QStringLiteral("result"), QJsonObject() } })
        .toJson(QJsonDocument::Compact);
}

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
            if (!m_bWebSocket) {
                m_pEngine->write(data); // the rest of a request's body
                return;
            }
            m_fromClient.feed(
                data,
                [this](const QByteArray& frame, qsizetype head) {
                    const auto b0 = quint8(frame.at(0));
                    if (b0 == 0x81 && (quint8(frame.at(1)) & 0x80)) {
                        QByteArray text = frame.mid(head);
                        const QByteArray mask = frame.mid(head - 4, 4);
                        for (qsizetype i = 0; i < text.size(); ++i)
                            text[i] = char(text.at(i) ^ mask.at(i % 4));
                        if (std::optional<QByteArray> answer = ownAnswer(text)) {
                            m_ownAnswers.append(textFrame(*answer));
                            if (m_bEngineAtFrameEnd)
                                sendOwnAnswers();
                            return;
                        }
                    }
                    m_pEngine->write(frame);
                },
                [this](const QByteArray& bytes, bool) { m_pEngine->write(bytes); });
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
        // Frames as they are, so that the proxy can read and answer some.
        head->removeField("sec-websocket-extensions");
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
        if (m_bWebSocket) {
            fromEngine(data);
            return;
        }
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

    // The engine's handshake answer, then its frames; the proxy's own
    // answers go between two of them.
    void fromEngine(QByteArray data)
    {
        if (!m_bEngineHeadDone) {
            m_response += data;
            const qsizetype headEnd = m_response.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            m_bEngineHeadDone = true;
            m_pClient->write(m_response.left(headEnd + 4));
            data = m_response.mid(headEnd + 4);
            m_response.clear();
            m_bEngineAtFrameEnd = true;
            sendOwnAnswers();
        }
        m_fromEngine.feed(
            data,
            [this](const QByteArray& frame, qsizetype) {
                m_pClient->write(frame);
                sendOwnAnswers();
            },
            [this](const QByteArray& bytes, bool last) {
                m_pClient->write(bytes);
                m_bEngineAtFrameEnd = last;
                if (last)
                    sendOwnAnswers();
            });
    }

    void sendOwnAnswers()
    {
        for (const QByteArray& frame : std::as_const(m_ownAnswers))
            m_pClient->write(frame);
        m_ownAnswers.clear();
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
    // A WebSocket's: its frames each way, the proxy's own answers to send.
    FrameSplitter m_fromClient;
    FrameSplitter m_fromEngine;
    QList<QByteArray> m_ownAnswers;
    bool m_bEngineHeadDone = false;
    bool m_bEngineAtFrameEnd = false;
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
