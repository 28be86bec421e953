#pragma once

// Internal to the module: who started a download.
//
// A download request of Qt WebEngine names no document: QWebEngineDownloadRequest
// has no initiator in Qt 6.4 nor 6.8, and its page() reads the page of a
// document that may be gone (in 6.4 that crashes once the document is gone).
// So every request that a page's documents make is written down as it
// leaves, with the origin of the document that made it (Qt's request
// initiator); a download is then matched to the requests for its URL. A
// blob: URL carries its creator's origin in the URL itself. A download
// that no request of a page matches (a data: URL, a page of the host's
// own) has no known initiator.

#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtWebEngineCore/QWebEngineUrlRequestInterceptor>

class QWebEnginePage;

namespace TaviWebModuleInternal {

// Writes down the requests of one page's documents; a child of the page,
// installed as its request interceptor.
class RequestLog : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    explicit RequestLog(QWebEnginePage* page);
    ~RequestLog() override;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    // Counts the page's main-frame documents (each report of one that comes
    // or goes), so that a request can tell that its document is gone.
    quint64 m_generation = 0;
    friend struct DownloadInitiator;
};

struct DownloadInitiator
{
    enum State {
        Known, // origin is the initiator's
        PageGone, // the page that asked was deleted
        DocumentGone, // its page shows another document now
        Unknown, // no page of the module asked for it
    };
    State state = Unknown;
    // Of the initiator; for several requests, an untrusted one first. Empty
    // for an opaque or unknown document.
    QUrl origin;
    // The page that asked, while it lives (null when unknown or gone).
    QPointer<QWebEnginePage> page;

    // Who asked for url, and forgets the requests for it.
    static DownloadInitiator take(const QUrl& url);
};

} // namespace TaviWebModuleInternal
