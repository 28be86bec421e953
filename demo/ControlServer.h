#pragma once

#include "RequestGate.h"

#include <QtCore/QHash>
#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtNetwork/QTcpServer>
#include <functional>

class QTcpSocket;

// The demo's control endpoint for tests: HTTP on 127.0.0.1 only, a POST
// with a JSON body (or none) to a path, a JSON answer, for the holder of the
// run's secret only (RequestGate). Served on the GUI thread, one request per
// connection.
class ControlServer : public QTcpServer
{
    Q_OBJECT
public:
    // What a request gets: the HTTP status and a JSON object.
    struct Answer
    {
        int status = 200;
        QJsonObject body;
    };
    using Handler = std::function<Answer(const QJsonObject& request)>;

    ControlServer(const RequestGate& gate, QObject* parent = nullptr);

    // Listens on a free port of 127.0.0.1; false when that fails.
    bool start();
    QString baseUrl() const;
    // POST path is answered by handler.
    void route(const QString& path, Handler handler);

    // Requests larger than this are refused (413).
    static constexpr qint64 kMaxRequest = 1024 * 1024;

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    static void reply(QTcpSocket* socket, const Answer& answer,
                      const QByteArray& allowedOrigin = {});

    RequestGate m_gate;
    QHash<QString, Handler> m_routes;
};
