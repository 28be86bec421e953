#pragma once

// Internal to the module: who started a download.
//
// A download request of Qt WebEngine names no document: QWebEngineDownloadRequest
// has no initiator in Qt 6.4 nor 6.8, and its page() reads the page of a
// document that may be gone (in 6.4 that crashes once the document is gone).
// So every request that a page's documents make is written down as it
// leaves, with the origin of the document that made it (Qt's request
// initiator); a download is then matched to the requests for its URL. Only
// requests that can turn into a download are written down (navigations of
// a frame or of the page, and requests of no known kind, as the download
// attribute makes them): a fetch of the same URL in another tab must not
// take the download. Each page keeps its own list, and within it each
// initiator origin its own bounded share, so no document's traffic pushes
// out the requests of another page, nor of a trusted document. Of several
// pages that asked for the URL, the one that asked first has it. A blob:
// URL carries its creator's origin in the URL itself. A download that no
// request of a page matches (a data: URL, a page of the host's own) has no
// known initiator.

#include <QtCore/QHash>
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
    // The log of page, or null.
    static RequestLog* of(const QWebEnginePage* page);
    // True when a document of an untrusted origin may be the one asking
    // now: the page's current document is one, or it holds (or held since it
    // was shown) a frame of one. No request tells its frame; this errs
    // towards untrusted.
    bool untrustedMayAsk() const;

Q_SIGNALS:
    // untrustedMayAsk() may answer otherwise now.
    void askersChanged();

public:
    struct Request
    {
        QUrl url;
        QUrl initiator;
        quint64 generation = 0;
        quint64 sequence = 0; // across all pages: which asked first
    };
    // The most requests kept for one initiator origin of a page, and the
    // most origins a page keeps requests of.
    static constexpr int kPerInitiator = 256;
    static constexpr int kInitiators = 32;

private:
    void record(Request request);

    // Counts the page's main-frame documents (each report of one that comes
    // or goes), so that a request can tell that its document is gone.
    quint64 m_generation = 0;
    // The last document generation that held an untrusted frame, plus one
    // (0: none).
    quint64 m_untrustedFrameIn = 0;
    // By the initiator's origin text; each list oldest first.
    QHash<QString, QList<Request>> m_requests;
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
