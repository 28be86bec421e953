#include "BridgeAccess.h"

#include "LogText.h"
#include "Logging.h"
#include "WebAccessPolicy.h"

#include <QtCore/QUuid>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>

namespace TaviWebModuleInternal {

namespace {

// A world of the module's own: the host's scripts keep theirs.
constexpr quint32 kReportWorld = 251; // worlds go up to 256

// Synthetic events (a page can dispatch its own "pagehide") are ignored.
const char kReportScript[] = R"JS((function () {
    'use strict';
    var id = Math.random().toString(36).slice(2);
    var report = console.debug.bind(console);
    function tell(what) { report('%1 ' + what + ' ' + id + ' ' + location.href); }
    tell('shown');
    addEventListener('pageshow', function (e) { if (e.isTrusted && e.persisted) tell('shown'); });
    addEventListener('pagehide', function (e) { if (e.isTrusted) tell('hidden'); });
})();)JS";

} // namespace

DocumentOrigin::DocumentOrigin(QWebEnginePage* page)
    : QObject(page)
    , m_secret(QStringLiteral("tavi-document:") + QUuid::createUuid().toString(QUuid::Id128))
{
    QWebEngineScript script;
    script.setName(QStringLiteral("tavi-document-origin"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(kReportWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromLatin1(kReportScript).arg(m_secret));
    page->scripts().insert(script);
}

DocumentOrigin* DocumentOrigin::of(const QWebEnginePage* page)
{
    return page ? page->findChild<DocumentOrigin*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool DocumentOrigin::trusted() const
{
    return WebAccessPolicy::global().isTrusted(m_url);
}

bool DocumentOrigin::take(const QString& message)
{
    if (!message.startsWith(m_secret + QLatin1Char(' ')))
        return false;
    const QStringList parts = message.mid(m_secret.size() + 1).split(QLatin1Char(' '));
    if (parts.size() < 3)
        return true;
    const QString& kind = parts.at(0);
    const QString& document = parts.at(1);
    if (kind == QLatin1String("shown")) {
        m_document = document;
        m_url = QUrl(parts.mid(2).join(QLatin1Char(' ')));
    } else if (document == m_document) {
        // Hidden: what follows is judged by its own report.
        m_document.clear();
        m_url.clear();
    } else {
        return true; // the report of a document already replaced
    }
    emit changed();
    return true;
}

BridgeGate::BridgeGate(QObject* bridge, QWebEnginePage* page, QWebChannel* channel)
    : QObject(bridge)
    , m_bridge(bridge)
    , m_channel(channel)
    , m_origin(DocumentOrigin::of(page))
{
    if (!m_origin)
        m_origin = new DocumentOrigin(page);
    connect(m_origin, &DocumentOrigin::changed, this, &BridgeGate::update);
    connect(&WebAccessPolicy::global(), &WebAccessPolicy::changed, this, &BridgeGate::update);
    update();
}

BridgeGate* BridgeGate::of(const QObject* bridge)
{
    return bridge ? bridge->findChild<BridgeGate*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

QUrl BridgeGate::documentUrl() const
{
    return m_origin->url();
}

bool BridgeGate::trusted() const
{
    return m_origin->trusted();
}

void BridgeGate::update()
{
    // Decided before the channel answers the document's "init": a document
    // of an untrusted origin never finds "CWebComm" there.
    const bool trust = trusted();
    if (trust == m_registered)
        return;
    if (trust)
        m_channel->registerObject(QStringLiteral("CWebComm"), m_bridge);
    else
        m_channel->deregisterObject(m_bridge);
    m_registered = trust;
    qCDebug(lcWebModule).noquote()
        << (trust ? "Bridge offered to" : "Bridge withdrawn from") << originText(documentUrl());
}

QString originText(const QUrl& url)
{
    return url.isEmpty() ? QStringLiteral("an unknown document") : WebAccessPolicy::originOf(url);
}

bool bridgeCallAllowed(const QObject* bridge, const char* method)
{
    const WebAccessPolicy& policy = WebAccessPolicy::global();
    if (!policy.restrictsOrigins())
        return true;
    const BridgeGate* gate = BridgeGate::of(bridge);
    const QUrl url = gate ? gate->documentUrl() : QUrl();
    if (policy.isTrusted(url))
        return true;
    qCWarning(lcWebModule).noquote() << QStringLiteral("Refused %1 from %2: not a trusted origin")
                                            .arg(QLatin1String(method), originText(url));
    return false;
}

namespace {

bool allowed(bool ok, const char* method, const char* what, const QString& path)
{
    if (!ok)
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Refused %1: %2 outside the file roots: %3")
                   .arg(QLatin1String(method), QLatin1String(what), escapeForLog(path));
    return ok;
}

} // namespace

bool mayReadPath(const char* method, const QString& path)
{
    return allowed(WebAccessPolicy::global().mayRead(path), method, "reading", path);
}

bool mayWritePath(const char* method, const QString& path)
{
    return allowed(WebAccessPolicy::global().mayWrite(path), method, "writing", path);
}

} // namespace TaviWebModuleInternal
