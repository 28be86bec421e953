#include "DownloadInitiator.h"

#include "BridgeAccess.h"
#include "PagePolicy.h"
#include "WebAccessPolicy.h"

#include <QtWebEngineCore/QWebEnginePage>
#include <deque>

namespace TaviWebModuleInternal {

namespace {

struct Request
{
    QUrl url;
    QUrl initiator;
    QPointer<RequestLog> log;
    quint64 generation = 0;
};

// Enough for the requests in flight of every page; a page that makes more
// only pushes its own out, and a download with no request left is one of
// an unknown document.
constexpr size_t kMaxRequests = 1024;

// GUI thread only: Qt 6 calls interceptors there.
std::deque<Request>& requests()
{
    static std::deque<Request> list;
    return list;
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
    if (DocumentOrigin* origin = DocumentOrigin::of(page))
        connect(origin, &DocumentOrigin::changed, this, [this] { ++m_generation; });
}

RequestLog::~RequestLog() = default;

void RequestLog::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    std::deque<Request>& list = requests();
    if (list.size() >= kMaxRequests)
        list.pop_front();
    list.push_back(Request { info.requestUrl(), info.initiator(), this, m_generation });
}

DownloadInitiator DownloadInitiator::take(const QUrl& url)
{
    DownloadInitiator result;
    if (url.scheme() == QLatin1String("blob")) {
        result.state = Known;
        result.origin = blobOrigin(url);
    }
    // Each request judged by its own page's policy.
    const auto trusted
        = [](const DownloadInitiator& d) { return policyFor(d.page.data()).isTrusted(d.origin); };
    std::deque<Request>& list = requests();
    bool found = false;
    for (auto it = list.begin(); it != list.end();) {
        if (it->url != url) {
            ++it;
            continue;
        }
        // Of several requests for the URL, the worst counts: an untrusted
        // initiator, then one whose document is gone.
        DownloadInitiator one;
        one.origin = it->initiator;
        if (it->log)
            one.page = qobject_cast<QWebEnginePage*>(it->log->parent());
        if (!it->log)
            one.state = PageGone;
        else if (it->log->m_generation != it->generation)
            one.state = DocumentGone;
        else
            one.state = Known;
        const bool worse = !found || (trusted(result) && !trusted(one))
            || (trusted(result) == trusted(one) && one.state > result.state);
        if (worse)
            result = one;
        found = true;
        it = list.erase(it);
    }
    return result;
}

} // namespace TaviWebModuleInternal
