#include "BridgeReady.h"

#include <QtCore/QUuid>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>

namespace TaviWebModuleInternal {

namespace {

// Runs before the page's own scripts, so that console.debug and the
// transport are still the originals. Message type 4 is qwebchannel.js's
// "idle".
const char kProbeScript[] = R"JS((function () {
    'use strict';
    var transport = window.qt && window.qt.webChannelTransport;
    if (!transport || typeof transport.send !== 'function')
        return;
    var send = transport.send;
    var report = console.debug.bind(console);
    var reported = false;
    transport.send = function (data) {
        var result = send.apply(this, arguments);
        if (!reported) {
            var message = data;
            if (typeof data === 'string') {
                try { message = JSON.parse(data); } catch (e) { message = null; }
            }
            if (message && message.type === 4) {
                reported = true;
                report('%1');
            }
        }
        return result;
    };
})();)JS";

} // namespace

BridgeReadyProbe::BridgeReadyProbe(QWebEnginePage* page)
    : QObject(page)
    , m_report(QStringLiteral("tavi-bridge-ready:")
               + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QWebEngineScript script;
    script.setName(QStringLiteral("tavi-bridge-ready"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromLatin1(kProbeScript).arg(m_report));
    page->scripts().insert(script);
}

BridgeReadyProbe* BridgeReadyProbe::of(const QWebEnginePage* page)
{
    return page->findChild<BridgeReadyProbe*>(QString(), Qt::FindDirectChildrenOnly);
}

bool BridgeReadyProbe::take(const QString& message)
{
    if (message != m_report)
        return false;
    Q_EMIT connected();
    return true;
}

} // namespace TaviWebModuleInternal
