#include "BridgeAccess.h"

#include "LogText.h"
#include "Logging.h"
#include "PageEvents.h"
#include "PageHealth.h"
#include "PagePolicy.h"
#include "SideObject.h"
#include "WarningBudget.h"
#include "WebAccessPolicy.h"
#include "WebComm.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QThread>
#include <QtCore/QUuid>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>

namespace TaviWebModuleInternal {

namespace {

// In the page's own world, where the channel's script runs too: a world of
// its own costs every document a script context of its own (see
// bench_pageopen). It runs before any script of the document and takes
// then all it calls later; the secret stays in its closure, which no page
// script can reach ('use strict' keeps callers and arguments hidden too);
// later it reads only what a page cannot replace (location, isTrusted).
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

// Tells the page of bridge why its call of method was refused, on the GUI
// thread where the bridge lives; nothing when the bridge is gone by then.
// The signal travels on the page's own channel, before the call's answer.
void tellPage(const QPointer<QObject>& bridge, const char* method, const char* reason,
              const QString& why, const QString* path = nullptr)
{
    QJsonObject refusal { { QStringLiteral("method"), QLatin1String(method) },
                          { QStringLiteral("reason"), QLatin1String(reason) },
                          { QStringLiteral("why"), why } };
    if (path)
        refusal.insert(QStringLiteral("path"), *path);
    const auto tell =
        [bridge, text = QString::fromUtf8(QJsonDocument(refusal).toJson(QJsonDocument::Compact))] {
            if (auto* webComm = qobject_cast<CWebComm*>(bridge.data()))
                Q_EMIT webComm->emitCallRefused(text);
        };
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        tell();
    else
        // Queued before the end of the work, so before the call's answer.
        QMetaObject::invokeMethod(app, tell, Qt::QueuedConnection);
}

} // namespace

DocumentOrigin::DocumentOrigin(QWebEnginePage* page)
    : QObject(page)
    , m_secret(QStringLiteral("tavi-document:") + QUuid::createUuid().toString(QUuid::Id128))
{
    QWebEngineScript script;
    script.setName(QStringLiteral("tavi-document-origin"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromLatin1(kReportScript).arg(m_secret));
    page->scripts().insert(script);
}

DocumentOrigin* DocumentOrigin::of(const QWebEnginePage* page)
{
    return sideObject<DocumentOrigin>(page);
}

bool DocumentOrigin::trusted() const
{
    return policyFor(parent()).isTrusted(m_url);
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
    Q_EMIT changed();
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
    connect(m_origin, &DocumentOrigin::changed, this, &BridgeGate::documentChanged);
    if (PagePolicy* policy = PagePolicy::of(page)) {
        policy->addOwner(bridge);
        connect(policy, &PagePolicy::changed, this, &BridgeGate::policyChanged);
    }
    documentChanged();
}

BridgeGate* BridgeGate::of(const QObject* bridge)
{
    return sideObject<BridgeGate>(bridge);
}

QUrl BridgeGate::documentUrl() const
{
    return m_origin->url();
}

bool BridgeGate::trusted() const
{
    return m_origin->trusted();
}

QWebEnginePage* BridgeGate::page() const
{
    return qobject_cast<QWebEnginePage*>(m_origin->parent());
}

void BridgeGate::documentChanged()
{
    // Decided before the channel answers the document's "init": a document
    // of an untrusted origin never finds "CWebComm" there.
    const bool trust = trusted();
    setRegistered(trust);
    const QString document = m_origin->document();
    // Once per document: one back from the back-forward cache was told.
    if (trust || document.isEmpty() || document == m_withheldFrom)
        return;
    m_withheldFrom = document;
    const QString origin = originText(documentUrl());
    // A page can make documents in a loop.
    if (mayWarn(page(), QStringLiteral("documents withheld the bridge"), kWarningsPerSecond,
                origin))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Bridge withheld from %1: not a trusted origin").arg(origin);
    if (PageEvents* events = PageEvents::of(page()))
        Q_EMIT events->bridgeWithheld(origin);
}

void BridgeGate::policyChanged()
{
    if (trusted()) {
        setRegistered(true);
        m_withheldFrom.clear();
    } else if (m_registered && m_origin->document() != m_withheldFrom) {
        // Once per document, however often the policy changes meanwhile.
        m_withheldFrom = m_origin->document();
        qCInfo(lcWebModule).noquote()
            << QStringLiteral("Trust withdrawn from %1 while shown: its bridge calls are refused")
                   .arg(originText(documentUrl()));
    }
}

void BridgeGate::setRegistered(bool registered)
{
    if (registered == m_registered)
        return;
    if (registered)
        m_channel->registerObject(QStringLiteral("CWebComm"), m_bridge);
    else
        m_channel->deregisterObject(m_bridge);
    m_registered = registered;
    qCDebug(lcWebModule).noquote() << (registered ? "Bridge offered to" : "Bridge withdrawn from")
                                   << originText(documentUrl());
}

QString originText(const QUrl& url)
{
    return url.isEmpty() ? QStringLiteral("an unknown document") : WebAccessPolicy::originOf(url);
}

bool bridgeCallAllowed(const QObject* bridge, const char* method)
{
    PageHealth::countBridgeCall(bridge);
    const WebAccessPolicy& policy = policyFor(bridge);
    if (!policy.restrictsOrigins())
        return true;
    const BridgeGate* gate = BridgeGate::of(bridge);
    const QUrl url = gate ? gate->documentUrl() : QUrl();
    if (policy.isTrusted(url))
        return true;
    const QString origin = originText(url);
    if (mayWarn(bridge, QStringLiteral("bridge calls from ") + origin, kWarningsPerSecond,
                QLatin1String(method)))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Refused %1 from %2: not a trusted origin")
                   .arg(QLatin1String(method), origin);
    if (gate)
        reportRefusedCall(gate->page(), method, VmsWebWidgets::UntrustedOrigin);
    // Heard only by a document that still holds the bridge (its trust
    // withdrawn while shown): others have no object to hear it on.
    tellPage(const_cast<QObject*>(bridge), method, "untrusted-document",
             QStringLiteral("the host does not trust this document's origin (%1)").arg(origin));
    return false;
}

namespace {

// owner: the bridge whose call it was, or null. A flood of one cause leaves
// each other method and cause its line (the cause's words before the path).
std::nullopt_t refused(const QObject* owner, const char* method, const QString& cause)
{
    if (mayWarn(owner, QStringLiteral("paths"), kWarningsPerSecond,
                QLatin1String(method) + QStringLiteral(": ")
                    + cause.section(QLatin1Char(':'), 0, 0)))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Refused %1: %2").arg(QLatin1String(method), cause);
    return std::nullopt;
}

bool looksLikeUrl(const QString& path)
{
    // Two letters or more before the colon: one is a drive letter.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(path).hasMatch();
}

} // namespace

namespace {

// Why a path was refused, as the page hears it.
enum class PathRefusal { None, Empty, Nul, Url, OutsideRoots };

// pagePath, telling why a refusal was made.
std::optional<QString> judgedPath(const QObject* owner, const char* method, const QString& text,
                                  PathUse use, PathRefusal* cause)
{
    *cause = PathRefusal::None;
    const QString path = slashedPath(text);
    if (path.isEmpty()) {
        *cause = PathRefusal::Empty;
        return refused(owner, method, QStringLiteral("an empty path"));
    }
    // The system would stop at the NUL: what follows it must not be judged.
    if (path.contains(QChar(u'\0'))) {
        *cause = PathRefusal::Nul;
        return refused(owner, method,
                       QStringLiteral("a NUL character in the path: ") + escapeForLog(path));
    }
    if (looksLikeUrl(path)) {
        *cause = PathRefusal::Url;
        return refused(owner, method,
                       QStringLiteral("a URL, not a local file path: ") + escapeForLog(path));
    }
    const WebAccessPolicy& policy = policyFor(owner);
    const bool write = use == PathUse::Write;
    const QString outside
        = QStringLiteral("%1 outside the file roots: %2")
              .arg(QLatin1String(write ? "writing" : "reading"), escapeForLog(path));
    if (!(write ? policy.mayWrite(path) : policy.mayRead(path))) {
        *cause = PathRefusal::OutsideRoots;
        return refused(owner, method, outside);
    }
    // A viewer or player opens the path by name later: at least now it must
    // lead to a file beneath its root, not out of it by a link.
    if (use == PathUse::Play && probeForReading(path, currentFileRoots(owner)) != 0
        && (errno == EXDEV || errno == ELOOP)) {
        *cause = PathRefusal::OutsideRoots;
        return refused(owner, method, outside);
    }
    return path;
}

// The page's words for cause: its reason and why.
std::pair<const char*, QString> refusalForPage(PathRefusal cause)
{
    switch (cause) {
    case PathRefusal::Empty:
        return { "empty-path", QStringLiteral("an empty path") };
    case PathRefusal::Nul:
        return { "nul-in-path", QStringLiteral("a NUL character in the path") };
    case PathRefusal::Url:
        return { "url-not-path", QStringLiteral("a URL, not a local file path") };
    case PathRefusal::OutsideRoots:
    case PathRefusal::None:
        break;
    }
    return { "outside-file-roots", QStringLiteral("outside the host's file roots") };
}

} // namespace

QString slashedPath(const QString& text)
{
    QString path = text;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

QString refusalWhy(const QString& text)
{
    const QString path = slashedPath(text);
    return path.isEmpty() || path.contains(QChar(u'\0')) || looksLikeUrl(path)
        ? QStringLiteral("not a local file path")
        : QStringLiteral("outside the host's file roots");
}

std::optional<QString> pagePath(const char* method, const QString& text, PathUse use)
{
    PathRefusal cause = PathRefusal::None;
    return judgedPath(nullptr, method, text, use, &cause);
}

std::optional<QString> pagePath(const QPointer<QObject>& bridge, const char* method,
                                const QString& text, PathUse use)
{
    PathRefusal cause = PathRefusal::None;
    std::optional<QString> path = judgedPath(bridge.data(), method, text, use, &cause);
    if (cause == PathRefusal::OutsideRoots)
        reportRefusedBridgeCall(bridge, method, VmsWebWidgets::OutsideFileRoots);
    if (cause != PathRefusal::None) {
        const auto [reason, why] = refusalForPage(cause);
        tellPage(bridge, method, reason, why, &text);
    }
    return path;
}

bool mayWritePath(const QObject* owner, const char* method, const QString& path)
{
    if (policyFor(owner).mayWrite(path))
        return true;
    refused(owner, method, QStringLiteral("writing outside the file roots: ") + escapeForLog(path));
    return false;
}

FileRoots currentFileRoots(const QObject* owner)
{
    const WebAccessPolicy& policy = policyFor(owner);
    FileRoots roots;
    roots.read = policy.readRoots();
    roots.write = policy.writeRoots();
    roots.restricted = !roots.read.isEmpty() || !roots.write.isEmpty();
    return roots;
}

} // namespace TaviWebModuleInternal
