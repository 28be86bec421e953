#pragma once

#include "RequestGate.h"

#include <QtCore/QString>
#include <QtNetwork/QTcpServer>

// DevTools of a served run, as announced: a loopback port in front of the
// engine's own DevTools port that lets through only what RequestGate lets
// through (the run's secret, as the first path segment or as a bearer
// token; no web page), then relays the bytes both ways, answering itself
// the one command a driver needs that the engine refuses (see ownAnswer()). The engine's port
// itself checks the Host of a request but not the Origin of a WebSocket
// handshake, so it is never announced (and lies on a port browsers refuse).
class DevToolsProxy : public QTcpServer
{
    Q_OBJECT
public:
    DevToolsProxy(const RequestGate& gate, quint16 enginePort, QObject* parent = nullptr);

    // Listens on a free port of 127.0.0.1; false when that fails.
    bool start();
    // http://127.0.0.1:<port>, for requests with the secret as bearer token.
    QString baseUrl() const;
    // ws://127.0.0.1:<port>/<secret><enginePath>: the engine's WebSocket
    // at enginePath (/devtools/browser/<id>), through this proxy.
    QString webSocketUrl(const QString& enginePath) const;

    // The longest request head it reads.
    static constexpr qsizetype kMaxHead = 64 * 1024;

private:
    void onNewConnection();

    RequestGate m_gate;
    quint16 m_nEnginePort = 0;
};
