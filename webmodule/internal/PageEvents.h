#pragma once

// Internal to the module: what happens to one hosted page that its host
// handles per page. The web widget gives its page one PageEvents and passes
// its signals on as its own; code that holds only the page (the navigation
// checks, the bridge's gate, the downloads) reports through it.

#include "VmsWebWidgets.h"
#include "WebAccessPolicy.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QUrl>

class QWebEnginePage;

namespace TaviWebModuleInternal {

class PageEvents : public QObject
{
    Q_OBJECT
public:
    // A child of page, with an id of its own for the host's notices.
    explicit PageEvents(QWebEnginePage* page);
    // The one of page, or null (a page no web widget hosts).
    static PageEvents* of(const QWebEnginePage* page);

    QString pageId() const { return m_id; }

Q_SIGNALS:
    void navigationRefused(const QUrl& url, bool newWindow);
    void linkRefused(const QUrl& url, bool newWindow, bool untrustedDocument);
    void bridgeWithheld(const QString& origin);
    void bridgeCallRefused(const QString& method, const QString& origin,
                           VmsWebWidgets::RefusalReason reason);
    void blockingBudgetExceeded(const QString& method);
    void permissionRequested(const QString& origin, WebAccessPolicy::Feature feature);
    // The page sent the host message: a notification with its sn, or a
    // notice (sn empty). See NotifyingPage.
    void hostNotified(const QString& message, const QString& sn);
    void notificationShown(const QString& id, const QString& title, const QString& body,
                           const QString& tag, const QString& origin);
    void notificationClosed(const QString& id);
    void newWindowRequested(const QUrl& url, VmsWebWidgets::NewWindowAnswer* answer,
                            VmsWebWidgets** target);
    void contextMenuRequested(const QPoint& globalPos, bool* handled);
    void printRequested(bool* handled);
    void fullScreenChanged(bool fullScreen);

private:
    QString m_id;
};

// The id of page's web widget as notices name it; empty when no web widget
// hosts the page.
QString pageIdOf(const QWebEnginePage* page);

// Tells page's host that method, called by the page's current document, was
// refused. On the page's thread; nothing for a null page or one no web widget
// hosts. The download path reports its refusals so too ("DownloadRequested").
void reportRefusedCall(const QWebEnginePage* page, const char* method,
                       VmsWebWidgets::RefusalReason reason);
// The same for a call that a document other than the page's current one
// made (a frame's download, say): the signal names origin, that document's.
void reportRefusedCall(const QWebEnginePage* page, const char* method,
                       VmsWebWidgets::RefusalReason reason, const QUrl& origin);
// The same for the page of a bridge, from any thread: work off the GUI thread
// reports through a guard taken on the GUI thread, and nothing is told when
// the bridge has gone meanwhile.
void reportRefusedBridgeCall(const QPointer<QObject>& bridge, const char* method,
                             VmsWebWidgets::RefusalReason reason);

// While alive, what the data center hands the host on this thread
// (emitFuncWebNotify, emitFuncInfoCenterNotify) is also told to events as
// hostNotified, right after, on the same thread. Scopes nest; with null
// events nothing more is told.
class NotifyingPage
{
public:
    explicit NotifyingPage(PageEvents* events);
    ~NotifyingPage();
    NotifyingPage(const NotifyingPage&) = delete;
    NotifyingPage& operator=(const NotifyingPage&) = delete;

private:
    QPointer<PageEvents> m_previous;
};
// The page events of bridge's page, or null.
PageEvents* pageEventsOfBridge(const QObject* bridge);
// Tells the innermost NotifyingPage of this thread, if any, of message.
void tellNotifyingPage(const QString& message, const QString& sn);

} // namespace TaviWebModuleInternal
