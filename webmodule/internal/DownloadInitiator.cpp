#include "DownloadInitiator.h"

#include "BridgeAccess.h"
#include "PagePolicy.h"
#include "SideObject.h"
#include "WebAccessPolicy.h"

#include <QtWebEngineCore/QWebEnginePage>
#include <algorithm>

namespace TaviWebModuleInternal {

namespace {

// GUI thread only: Qt 6 calls interceptors there.
QList<RequestLog*>& logs()
{
    static QList<RequestLog*> list;
    return list;
}

quint64 s_sequence = 0;

// Requests of pages that are gone, so that their downloads are told apart
// from unknown ones; only a page's end adds to it.
constexpr qsizetype kMaxGoneRequests = 1024;
QList<RequestLog::Request>& goneRequests()
{
    static QList<RequestLog::Request> list;
    return list;
}

// Requests that may end as a download: a navigation of the page or of a
// frame, and what the engine names no kind (an <a download> click). A
// fetch, an image, a script never does.
bool mayBecomeDownload(const QWebEngineUrlRequestInfo& info)
{
    switch (info.resourceType()) {
    case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadMainFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadSubFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeUnknown:
        return true;
    default:
        return false;
    }
}

QUrl blobOrigin(const QUrl& url)
{
    // "blob:https://host:port/uuid": the document that made it.
    const QUrl inner(url.path());
    return inner.scheme().isEmpty() ? QUrl() : inner;
}

} // namespace

RequestLog::RequestLog(QWebEnginePage* page)
    : QWebEngineUrlRequestInterceptor(page)
{
    page->setUrlRequestInterceptor(this);
    logs().append(this);
    if (DocumentOrigin* origin = DocumentOrigin::of(page))
        connect(origin, &DocumentOrigin::changed, this, [this] {
            ++m_generation;
            Q_EMIT askersChanged();
        });
}

RequestLog::~RequestLog()
{
    logs().removeOne(this);
    QList<Request>& gone = goneRequests();
    for (const QList<Request>& list : std::as_const(m_requests))
        gone.append(list);
    if (gone.size() > kMaxGoneRequests)
        gone.remove(0, gone.size() - kMaxGoneRequests);
}

RequestLog* RequestLog::of(const QWebEnginePage* page)
{
    return sideObject<RequestLog>(page);
}

bool RequestLog::untrustedMayAsk() const
{
    const DocumentOrigin* origin = DocumentOrigin::of(qobject_cast<QWebEnginePage*>(parent()));
    // A frame's first request may come before the report of its page's new
    // document: the document before counts too.
    return !origin || !origin->trusted()
        || (m_untrustedFrameIn != 0 && m_generation <= m_untrustedFrameIn);
}

void RequestLog::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    // A frame's own document is of its URL's origin; any request is of its
    // initiator's.
    const WebAccessPolicy& policy = policyFor(parent());
    if ((info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeSubFrame
         && !policy.isTrusted(info.requestUrl()))
        || (!info.initiator().isEmpty() && !policy.isTrusted(info.initiator()))) {
        const bool first = m_untrustedFrameIn != m_generation + 1;
        m_untrustedFrameIn = m_generation + 1;
        if (first)
            Q_EMIT askersChanged();
    }
    if (!mayBecomeDownload(info))
        return;
    record(Request { info.requestUrl(), info.initiator(), m_generation, ++s_sequence });
}

void RequestLog::record(Request request)
{
    const WebAccessPolicy& policy = policyFor(parent());
    const QString origin = WebAccessPolicy::originOf(request.initiator);
    auto list = m_requests.find(origin);
    if (list == m_requests.end()) {
        if (m_requests.size() >= kInitiators) {
            // A page of many origins: an untrusted one whose newest request
            // is oldest makes room; a trusted one's requests never go so.
            auto oldest = m_requests.end();
            for (auto it = m_requests.begin(); it != m_requests.end(); ++it)
                if (!policy.isTrusted(it->constFirst().initiator)
                    && (oldest == m_requests.end()
                        || it->constLast().sequence < oldest->constLast().sequence))
                    oldest = it;
            if (oldest == m_requests.end())
                return; // its download is one of an unknown document: refused
            m_requests.erase(oldest);
        }
        list = m_requests.insert(origin, {});
    }
    if (list->size() >= kPerInitiator)
        list->removeFirst();
    list->append(std::move(request));
}

DownloadInitiator DownloadInitiator::take(const QUrl& url)
{
    DownloadInitiator result;
    if (url.scheme() == QLatin1String("blob")) {
        result.state = Known;
        result.origin = blobOrigin(url);
    }
    // The page that asked first; the others keep theirs for their own
    // download of the URL.
    RequestLog* log = nullptr;
    quint64 first = 0;
    for (RequestLog* candidate : std::as_const(logs()))
        for (const QList<RequestLog::Request>& list : std::as_const(candidate->m_requests))
            for (const RequestLog::Request& r : list)
                if (r.url == url && (!log || r.sequence < first)) {
                    log = candidate;
                    first = r.sequence;
                }
    QList<RequestLog::Request>& gone = goneRequests();
    const auto goneFirst = std::find_if(
        gone.begin(), gone.end(), [&url](const RequestLog::Request& r) { return r.url == url; });
    if (goneFirst != gone.end() && (!log || goneFirst->sequence < first)) {
        result.state = PageGone;
        result.origin = goneFirst->initiator;
        result.page = nullptr;
        gone.removeIf([&url](const RequestLog::Request& r) { return r.url == url; });
        return result;
    }
    if (!log)
        return result;
    // Judged by the policy of the page that asked.
    const WebAccessPolicy& policy = policyFor(log->parent());
    bool found = false;
    for (auto list = log->m_requests.begin(); list != log->m_requests.end();) {
        for (auto it = list->begin(); it != list->end();) {
            if (it->url != url) {
                ++it;
                continue;
            }
            // Of several requests for the URL, the worst counts: an untrusted
            // initiator, then one whose document is gone.
            DownloadInitiator one;
            one.origin = it->initiator;
            one.page = qobject_cast<QWebEnginePage*>(log->parent());
            one.state = log->m_generation != it->generation ? DocumentGone : Known;
            const bool worse = !found
                || (policy.isTrusted(result.origin) && !policy.isTrusted(one.origin))
                || (policy.isTrusted(result.origin) == policy.isTrusted(one.origin)
                    && one.state > result.state);
            if (worse)
                result = one;
            found = true;
            it = list->erase(it);
        }
        if (list->isEmpty())
            list = log->m_requests.erase(list);
        else
            ++list;
    }
    return result;
}

} // namespace TaviWebModuleInternal
