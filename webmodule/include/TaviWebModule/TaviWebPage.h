#pragma once

#include "VmsWebWidgets.h"
#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <TaviPage.h>

class QResizeEvent;

// A host tab page showing one web page, the view filling its width and its
// height less two pixels. Not a native window: Qt composes the web view into
// the host's top-level window, which a native window in between would break.
class TAVIWEBMODULE_EXPORT TaviWebPage : public TaviPage
{
    Q_OBJECT
public:
    // A tab page opening url at once. parent is recorded only: the host puts
    // the page into its tabs.
    TaviWebPage(QWidget* parent, const QString& url);
    // The same, the page on profile (see VmsWebWidgets' constructor).
    TaviWebPage(QWidget* parent, const QString& url, QWebEngineProfile* profile);
    ~TaviWebPage() override;

    // Reloads the hosted page.
    void reload();
    // The hosted page, for hosts that need the view or the bridge.
    VmsWebWidgets* webWidgets() { return &m_webWidgets; }

    // What a free web view would ask for: the view's fixed size (this page's
    // own size) must not become the page's minimum, or the layouts around the
    // page could only ever grow.
    QSize sizeHint() const override;
    // As sizeHint(): no minimum from the view.
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The hosted page's own signals, passed on (see VmsWebWidgets).
    // VmsWebWidgets::navigationRefused of the hosted page.
    void navigationRefused(const QUrl& url, bool newWindow);
    // VmsWebWidgets::linkRefused of the hosted page.
    void linkRefused(const QUrl& url, bool newWindow, bool untrustedDocument);
    // VmsWebWidgets::bridgeWithheld of the hosted page.
    void bridgeWithheld(const QString& origin);
    // VmsWebWidgets::bridgeCallRefused of the hosted page.
    void bridgeCallRefused(const QString& method, const QString& origin,
                           VmsWebWidgets::RefusalReason reason);
    // VmsWebWidgets::blockingBudgetExceeded of the hosted page.
    void blockingBudgetExceeded(const QString& method);
    // VmsWebWidgets::permissionRequested of the hosted page.
    void permissionRequested(const QString& origin, WebAccessPolicy::Feature feature);
    // VmsWebWidgets::notifiedHost of the hosted page.
    void notifiedHost(const QString& message, const QString& sn);
    // VmsWebWidgets::notificationShown of the hosted page.
    void notificationShown(const QString& id, const QString& title, const QString& body,
                           const QString& tag, const QString& origin);
    // VmsWebWidgets::notificationClosed of the hosted page.
    void notificationClosed(const QString& id);
    // VmsWebWidgets::renderProcessEnded of the hosted page.
    void renderProcessEnded(QWebEnginePage::RenderProcessTerminationStatus status, bool reloads);
    // ---- Pages that stop answering ----
    // VmsWebWidgets::pageUnresponsive of the hosted page.
    void pageUnresponsive(int silentMs);
    // VmsWebWidgets::pageResponsive of the hosted page.
    void pageResponsive(int goneMs);
    // VmsWebWidgets::pushesDropped of the hosted page.
    void pushesDropped(int count);
    // VmsWebWidgets::errorStateShown of the hosted page.
    void errorStateShown();
    // VmsWebWidgets::newWindowRequested of the hosted page (connect directly).
    void newWindowRequested(const QUrl& url, VmsWebWidgets::NewWindowAnswer* answer,
                            VmsWebWidgets** target);
    // VmsWebWidgets::contextMenuRequested of the hosted page (connect directly).
    void contextMenuRequested(const QPoint& globalPos, bool* handled);
    // VmsWebWidgets::printRequested of the hosted page (connect directly).
    void printRequested(bool* handled);
    // VmsWebWidgets::fullScreenChanged of the hosted page.
    void fullScreenChanged(bool fullScreen);

protected:
    // Gives the view this page's width and its height less two pixels.
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_pParentWidget;
    VmsWebWidgets m_webWidgets;
};
