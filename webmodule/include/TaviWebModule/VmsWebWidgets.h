#pragma once

#include "MyWebEngineView.h"
#include "WebAccessPolicy.h"
#include "taviwebmodule_export.h"

#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtWebEngineCore/QWebEnginePage>
#include <initializer_list>

class CWebComm;
class CWebPage;
class QWebChannel;
class QWebEngineProfile;
class QPoint;
class QWidget;
class WebAccessPolicy;

// One hosted page: view, page, web channel and the "CWebComm" bridge. Create
// it on the GUI thread and destroy it before the parent widget of its view.
class TAVIWEBMODULE_EXPORT VmsWebWidgets : public QObject
{
    Q_OBJECT
public:
    // Why a bridge call of the page was refused (see WebAccessPolicy).
    enum RefusalReason {
        UntrustedOrigin, // the page's document is of an origin the host does not trust
        OutsideFileRoots, // a path outside the folders the host allows
    };
    Q_ENUM(RefusalReason)

    // Where a new window a document of the page asks for goes (see
    // newWindowRequested).
    enum NewWindowAnswer {
        RefuseNewWindow, // nothing opens; window.open gives the page null
        OpenInSystemBrowser, // the desktop's browser shows the URL; window.open gives null
        OpenInHostWindow, // a web widget of the host shows it; window.open gives its window
    };
    Q_ENUM(NewWindowAnswer)

    // Creates the view, page, channel and bridge; connects the data center's
    // signals to the slots below. parent becomes the view's parent.
    explicit VmsWebWidgets(QWidget* parent = nullptr);
    // The same, the page on profile (not owned: it must outlive this
    // object); null: the pages' profile (see setDefaultProfile). The page
    // keeps that profile for every document it shows, wherever it navigates.
    VmsWebWidgets(QWebEngineProfile* profile, QWidget* parent);
    ~VmsWebWidgets() override;

    // The profile the page lives on.
    QWebEngineProfile* profile() const;

    // The module's profile storageName, keeping localStorage, IndexedDB,
    // cookies (session cookies too) and the HTTP cache in folder across
    // restarts; made at the first call, the same object for every later
    // call with that name, alive until the application object ends. Null,
    // with a log line, for an empty name or folder, or a name or folder
    // already taken by another pair. GUI thread, with an application object.
    static QWebEngineProfile* persistentProfile(const QString& storageName, const QString& folder);
    // The profile of pages created from now on without one of their own;
    // null (the start): Qt's default profile, which keeps nothing. Pages
    // already open stay where they are. Not owned.
    static void setDefaultProfile(QWebEngineProfile* profile);
    // The profile setDefaultProfile() set, or Qt's default profile.
    static QWebEngineProfile* defaultProfile();

    // The policy that judges this page from now on (its trusted origins, file
    // roots, navigation, pinned certificates, permissions) instead of
    // WebAccessPolicy::global(); not owned. Null, and the policy's deletion:
    // the global one again. The current document is judged anew at once.
    void setAccessPolicy(WebAccessPolicy* policy);
    // The policy that judges this page now.
    WebAccessPolicy& accessPolicy() const;

    // Answers the request of a document of origin ("scheme://host:port", as
    // permissionRequested gave it) for feature; false, with a log line, when
    // none waits. GUI thread.
    bool answerPermission(const QString& origin, WebAccessPolicy::Feature feature, bool granted);

    // Tells the page that the operator clicked notification id (its
    // "click" event); false, with a log line, when it is gone.
    bool clickNotification(const QString& id);
    // Closes notification id as the operator would (the page's "close"
    // event); false, with a log line, when it is gone.
    bool closeNotification(const QString& id);

    // The widget to put into a layout; null once its parent destroyed it.
    MyWebEngineView* view() const;
    // Records parent only; the view is not reparented.
    void SetParent(QWidget* parent);
    // Loads url, read in tolerant mode, into the view.
    void OpenUrl(const QString& url);
    // Applied at once, or when the current load finishes.
    void setFixedSize(int w, int h);
    // Reloads the current page; one that does not answer is reloaded
    // through restartRenderer(). Takes away an error state.
    void reload();
    // This page's name in the host notices the module adds ("navigationRefused",
    // "certificateRefused", "renderProcessTerminated"), as their "page"
    // member: unique in the process, never reused.
    QString pageId() const;

    // The most this page may hold the host's window within any windowMs:
    // time spent waiting in NotifyToHostSync and RequestToVmsServerSync, and
    // time under its modal dialogs (file dialogs, picture viewer, alarm tip,
    // download save dialog) except the first dialog after windowMs without
    // one. Over it, a blocking call answers at once as a time-out would and
    // a dialog as if cancelled (see blockingBudgetExceeded); a call's
    // time-out is cut to what is left. budgetMs >= windowMs: no budget;
    // budgetMs < 0: the process default again. GUI thread.
    void setBlockingBudget(int budgetMs, int windowMs = 10000);
    // The budget that applies to this page, in ms.
    int blockingBudgetMs() const;
    // The window of that budget, in ms.
    int blockingWindowMs() const;
    // The budget of every page that sets none (5000 ms in 10000 unless set).
    static void setDefaultBlockingBudget(int budgetMs, int windowMs = 10000);

    // How often the page hears the progress of its copies
    // (CWebComm::emitCopyProgress): every ms while an order is being copied,
    // when bytes were added (250 unless set). 0: after each chunk of the
    // copy and once all its bytes are written, before the sync, so that a
    // test sees progress even for a small file. ms < 0: 250 again. GUI thread.
    void setCopyProgressInterval(int ms);
    // The interval that applies to this page, in ms.
    int copyProgressInterval() const;

    // ---- Pages that stop answering (see the guide) ----
    // How long the page's main thread may leave the module's small question
    // unanswered before pageUnresponsive (default 5000 ms; < 0: the
    // default). Not judged while the page loads, its view is hidden, a modal
    // dialog is open (a JavaScript alert among them) or it has no renderer.
    void setUnresponsiveTimeout(int ms);
    // The time that applies, in ms.
    int unresponsiveTimeoutMs() const;
    // After how long without an answer the module calls restartRenderer()
    // itself, once each time the page stops answering; 0 (the default):
    // never.
    void setAutoRecoveryTimeout(int ms);
    // The time that applies, in ms; 0: off.
    int autoRecoveryTimeoutMs() const;
    // Ends the page's renderer process and reloads the page, as after a
    // crash: renderProcessEnded, the same limit of three reloads a minute.
    // Pages sharing that process come back the same way. Without a
    // renderer: reload().
    void restartRenderer();
    // The most the module holds, in bytes, for pushes the page has not yet
    // taken (default 2 MiB; < 0: the default), besides at most 256 Ki
    // characters of script ahead of its answers. Over it, the device
    // statuses waiting give way to one full status (as GetDevStatus gives
    // it) sent when the page is ready, a data cache value or token to the
    // newest of its key, and other pushes are dropped (pushesDropped).
    void setPushBudget(qint64 bytes);
    // The budget that applies, in bytes.
    qint64 pushBudget() const;
    // The page's figures now: "rendererPid" (0: none), "rendererMemoryKb"
    // (resident; 0 unknown), "pushesSent", "pushesWaiting", "pushesInFlight"
    // (sent, not yet answered), "pushesReplaced", "pushesDropped",
    // "bridgeCalls", "bridgeRefusals", "msSinceAnswer", "answering" (bool),
    // "errorState" (bool). Keys may be added, never removed. GUI thread.
    QJsonObject health() const;
    // True while the page's document fills the screen (element.requestFullscreen()).
    bool isFullScreen() const;
    // Brings a page in full screen back to its place in the host's window, as
    // Esc and document.exitFullscreen() do. Nothing when it is not in full screen.
    void exitFullScreen();

Q_SIGNALS:
    // The page's web channel client has initialised (its QWebChannel callback
    // has run): pushes from now on reach it. Once per page load, and only for
    // pages that open the channel.
    void bridgeConnected();

    // Under WebAccessPolicy::TrustedOnly, a main-frame navigation (newWindow
    // false) or a new window (true) towards url, an http, https or file
    // address, was refused; the page stays.
    void navigationRefused(const QUrl& url, bool newWindow);
    // Beside navigationRefused, for the links a host may open: url is an
    // http, https or file address as asked for (others are refused with a
    // log line only, neither signal comes). untrustedDocument: a document of
    // an origin the host does not trust may have asked (the page's own, or
    // a frame it holds or held since shown): do not open the link for it.
    // At most 20 a second for each target origin, the rest counted in a log
    // line.
    void linkRefused(const QUrl& url, bool newWindow, bool untrustedDocument);
    // A document of origin, which the host does not trust, was shown without
    // the bridge. Once per document.
    void bridgeWithheld(const QString& origin);
    // The page's document (of origin) called method and was refused; a
    // refused download reports method "DownloadRequested".
    void bridgeCallRefused(const QString& method, const QString& origin,
                           VmsWebWidgets::RefusalReason reason);
    // A blocking call or a dialog (method) of the page was answered at once:
    // the page had used up its blocking budget. Once per budget window and
    // method, however often the page tries.
    void blockingBudgetExceeded(const QString& method);
    // A trusted document of origin asked for feature, and the page's policy
    // leaves the answer to the host (WebAccessPolicy::AskHost): answer with
    // answerPermission(), at once or later; the request waits until then, or
    // until the page shows another document. Without a receiver it is
    // denied at once.
    void permissionRequested(const QString& origin, WebAccessPolicy::Feature feature);
    // The page sent the host message, right after the data center's own
    // signal carried it, on the same thread, for direct connections:
    // emitFuncWebNotify (NotifyToHost with the page's sn, NotifyToHostSync
    // with the sn to answer through NotifyResult, here or on another thread,
    // within its time-out) or emitFuncInfoCenterNotify (the module's notices
    // for this page: "showTip", "afterSnapshot", "getUserToken",
    // "navigationRefused", ...; sn empty). A host that answers per page
    // answers here and leaves emitFuncWebNotify unanswered.
    void notifiedHost(const QString& message, const QString& sn);
    // A web notification of the page (new Notification(title, { body, tag }))
    // for the host to show: its document is trusted and may show
    // notifications (WebAccessPolicy::Notifications not denied to origin).
    // id names it in clickNotification, closeNotification and
    // notificationClosed; unique in the process.
    void notificationShown(const QString& id, const QString& title, const QString& body,
                           const QString& tag, const QString& origin);
    // The page closed notification id, or replaced it by one of the same
    // tag: the host takes it down.
    void notificationClosed(const QString& id);
    // The page's renderer process ended; reloads tells whether the module
    // reloads the page (at most three times a minute).
    void renderProcessEnded(QWebEnginePage::RenderProcessTerminationStatus status, bool reloads);

    // ---- Pages that stop answering ----
    // The page has not answered for silentMs (at least the time-out). Once
    // until pageResponsive.
    void pageUnresponsive(int silentMs);
    // The page answers again after goneMs without an answer (through a
    // restart of its renderer too).
    void pageResponsive(int goneMs);
    // count pushes that did not fit the page's budget were dropped since the
    // last time (at most once a second).
    void pushesDropped(int count);
    // The renderer stays down (the crash limit is reached, or the page did
    // not come back): the page's place shows what happened and a Reload
    // button. reload() brings the page back.
    void errorStateShown();
    // The handlers below answer through their pointer arguments: connect
    // them directly (Qt::DirectConnection, or the default on the GUI thread).

    // A document of the page asks for a new window towards url (window.open,
    // a link or a form with a target) and the navigation policy allows it.
    // Set *answer (RefuseNewWindow unless a handler sets it); with
    // OpenInHostWindow, set *target to a new web widget of the host that has
    // loaded nothing yet: it then shows the window (left null: refused).
    void newWindowRequested(const QUrl& url, VmsWebWidgets::NewWindowAnswer* answer,
                            VmsWebWidgets** target);
    // The operator right-clicked the page at globalPos (screen coordinates)
    // and the page's own contextmenu handler did not take the click. Set
    // *handled to show the host's own menu instead of the module's (Cut, Copy,
    // Paste, Select all where they apply; Inspect while DevTools are on).
    void contextMenuRequested(const QPoint& globalPos, bool* handled);
    // The page called window.print(). Set *handled to print the host's way;
    // otherwise the print dialog opens (offscreen, with no one to answer
    // it, the page is printed to a PDF file in the download folder).
    void printRequested(bool* handled);
    // The page's document entered (true) or left (false) full screen.
    void fullScreenChanged(bool fullScreen);

public Q_SLOTS:
    // Calls the page function emitInfoNotify(message) (line feeds removed).
    void InfoNotifySlot(QString message);
    // Calls the page function emitHostResponse(message, sn).
    void InfoNotifySlotEx(QString message, QString sn);
    // Calls the page function emitDevStatus(message) (on one line).
    void DevStatusNotifySlot(QString message);
    // Calls the page function emitDataCacheNotify(key, value).
    void DataCacheNotifySlot(QString key, QString value);
    // Calls the page function emitServerRespone(sn, ack, msg).
    void ServerResponeSlot(QString sn, int ack, QString msg);

private:
    // Calls the page function with args in the page (see PagePush).
    void pushToPage(QLatin1String function, std::initializer_list<QString> args,
                    bool dropLineFeeds = false);
    // Logs a dead renderer, tells the host and reloads the page, at most
    // kMaxCrashReloads times a minute.
    void onRenderProcessTerminated(int status, int exitCode);
    // The page's place shows that it stays down, and why.
    void showErrorState(const QString& detail);
    // The page's health, push budget and error state (side objects).
    void initHealth(QObject* push);

    QWidget* m_pParent;
    // Guarded: the parent widget may delete the view first.
    QPointer<MyWebEngineView> m_pView;
    CWebComm* m_pWebComm;
    QWebChannel* m_pChannel;
    CWebPage* m_pPage;
    QWebEngineProfile* m_pProfile;
    bool m_bLoading;
    int m_nWidth;
    int m_nHeight;
    // When the recent crash reloads happened (ms of a monotonic clock).
    QList<qint64> m_crashReloads;
};
