#pragma once

// Internal to the module: how WebAccessPolicy is enforced for a page.
//
// The origin that counts is the one of the page's current main-frame
// document. QWebEnginePage::url() cannot tell it: it shows a navigation the
// host started before that navigation commits, and Qt has no signal at the
// commit. So a script in an isolated world of its own, which the page's
// scripts can neither see nor reach, reports each main-frame document's URL
// as the document is created (and again when it comes back from the
// back-forward cache, and when it is hidden). Those reports travel on the
// same ordered route as the page's channel messages and come before any of
// them, so the channel's answer to a new document's "init" and every call
// from it are judged by its own URL.

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QUrl>

class QWebChannel;
class QWebEnginePage;

namespace TaviWebModuleInternal {

// The URL of a page's current main-frame document; a child of the page.
class DocumentOrigin : public QObject
{
    Q_OBJECT
public:
    explicit DocumentOrigin(QWebEnginePage* page);
    static DocumentOrigin* of(const QWebEnginePage* page);

    // Empty while no document has reported (none yet, or the last one hidden).
    QUrl url() const { return m_url; }
    // The reporting document's own id; empty with url().
    QString document() const { return m_document; }
    bool trusted() const;
    // True, and url() updated, when message is one of the script's reports.
    bool take(const QString& message);

Q_SIGNALS:
    void changed();

private:
    QString m_secret;
    QString m_document; // the id the current document reported with
    QUrl m_url;
};

// Decides whether the page's channel holds the bridge as "CWebComm": only
// while the current document is trusted. A child of the bridge.
class BridgeGate : public QObject
{
    Q_OBJECT
public:
    BridgeGate(QObject* bridge, QWebEnginePage* page, QWebChannel* channel);
    // The gate of bridge, or null (a bridge the module did not set up).
    static BridgeGate* of(const QObject* bridge);

    // The page's current document, when known.
    QUrl documentUrl() const;
    bool trusted() const;
    QWebEnginePage* page() const;

private:
    // A new document gets the bridge only when trusted. One whose trust the
    // host withdraws while it is shown keeps the object, and every call of
    // it is refused (a page library can tell that from a vanished object).
    void documentChanged();
    void policyChanged();
    void setRegistered(bool registered);

    QObject* m_bridge;
    QWebChannel* m_channel;
    DocumentOrigin* m_origin;
    bool m_registered = false;
    QString m_withheldFrom; // the last document told it lost or lacks the bridge
};

// url's origin for log lines; "an unknown document" for none.
QString originText(const QUrl& url);
// True when the policy lets the bridge run method for the page's current
// document; otherwise one log line naming the method and the origin.
bool bridgeCallAllowed(const QObject* bridge, const char* method);
// True when the file roots let method read or write path; otherwise a log line.
bool mayReadPath(const char* method, const QString& path);
bool mayWritePath(const char* method, const QString& path);
// The same for a call of bridge, from any thread; a refusal is also told to
// the host of the bridge's page (see reportRefusedBridgeCall).
bool mayReadPath(const QPointer<QObject>& bridge, const char* method, const QString& path);
bool mayWritePath(const QPointer<QObject>& bridge, const char* method, const QString& path);

} // namespace TaviWebModuleInternal
