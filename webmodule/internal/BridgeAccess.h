#pragma once

// Internal to the module: how WebAccessPolicy is enforced for a page.
//
// The origin that counts is the one of the page's current main-frame
// document. QWebEnginePage::url() cannot tell it: it shows a navigation the
// host started before that navigation commits, and Qt has no signal at the
// commit. So a script that runs before any of the document's own, and keeps
// its secret where the page's scripts cannot reach it, reports each
// main-frame document's URL as the document is created (and again when it
// comes back from the back-forward cache, and when it is hidden). Those
// reports travel on the same ordered route as the page's channel messages and
// come before any of them, so the channel's answer to a new document's "init"
// and every call from it are judged by its own URL.

#include "RootedFiles.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <optional>

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
// document; otherwise one log line naming the method and the origin (these
// and the path refusals below within the bridge's budget of warnings, see
// WarningBudget.h), and the page told (CWebComm::emitCallRefused).
bool bridgeCallAllowed(const QObject* bridge, const char* method);
// What a path argument of the bridge is used for: read by the module,
// written or deleted by it, or opened by a viewer or player that reads it
// by name.
enum class PathUse { Read, Write, Play };
// The one rule for every path a page sends: a local file path, never a URL
// of any scheme, a NUL anywhere or empty; backslashes become slashes first,
// and the file roots judge the result. Returns the path to use, exactly as
// judged; nullopt after one log line naming method and the cause.
std::optional<QString> pagePath(const char* method, const QString& text, PathUse use);
// text as that rule reads it, judged or not: backslashes as slashes.
QString slashedPath(const QString& text);
// Why pagePath refused text, in a few words ("not a local file path",
// "outside the host's file roots"); the log line of the refusal has the
// detail.
QString refusalWhy(const QString& text);
// The same for a call of bridge, from any thread; a refusal is told to the
// bridge's page (CWebComm::emitCallRefused, before the call's answer), and
// one by the file roots to its host too (see reportRefusedBridgeCall).
std::optional<QString> pagePath(const QPointer<QObject>& bridge, const char* method,
                                const QString& text, PathUse use);
// True when the file roots let method write path (taken as it is);
// otherwise the same log line as pagePath's, within owner's budget.
bool mayWritePath(const QObject* owner, const char* method, const QString& path);
// The file roots of owner's policy now (see policyFor), for the work that
// follows a check.
FileRoots currentFileRoots(const QObject* owner);

} // namespace TaviWebModuleInternal
