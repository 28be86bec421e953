#include "PageEvents.h"

#include "BridgeAccess.h"
#include "SideObject.h"

#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtWebEngineCore/QWebEnginePage>
#include <atomic>

namespace TaviWebModuleInternal {

PageEvents::PageEvents(QWebEnginePage* page)
    : QObject(page)
{
    // Never reused while the process lives: a host may keep ids of closed pages.
    static std::atomic<int> s_lastId { 0 };
    m_id = QStringLiteral("page-%1").arg(++s_lastId);
}

PageEvents* PageEvents::of(const QWebEnginePage* page)
{
    return sideObject<PageEvents>(page);
}

QString pageIdOf(const QWebEnginePage* page)
{
    const PageEvents* events = PageEvents::of(page);
    return events ? events->pageId() : QString();
}

void reportRefusedCall(const QWebEnginePage* page, const char* method,
                       VmsWebWidgets::RefusalReason reason)
{
    const DocumentOrigin* origin = DocumentOrigin::of(page);
    reportRefusedCall(page, method, reason, origin ? origin->url() : QUrl());
}

void reportRefusedCall(const QWebEnginePage* page, const char* method,
                       VmsWebWidgets::RefusalReason reason, const QUrl& origin)
{
    if (PageEvents* events = PageEvents::of(page))
        Q_EMIT events->bridgeCallRefused(QLatin1String(method), originText(origin), reason);
}

void reportRefusedBridgeCall(const QPointer<QObject>& bridge, const char* method,
                             VmsWebWidgets::RefusalReason reason)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    const auto report = [bridge, name = QByteArray(method), reason] {
        if (const BridgeGate* gate = BridgeGate::of(bridge.data()))
            reportRefusedCall(gate->page(), name.constData(), reason);
    };
    // Bridges live on the GUI thread; only there may the guard be read.
    if (QThread::currentThread() == app->thread())
        report();
    else
        QMetaObject::invokeMethod(app, report, Qt::QueuedConnection);
}

namespace {

// The page whose bridge call or notice this thread is sending, if any.
thread_local QPointer<PageEvents> t_notifying;

} // namespace

NotifyingPage::NotifyingPage(PageEvents* events)
    : m_previous(t_notifying)
{
    t_notifying = events;
}

NotifyingPage::~NotifyingPage()
{
    t_notifying = m_previous;
}

PageEvents* pageEventsOfBridge(const QObject* bridge)
{
    const BridgeGate* gate = BridgeGate::of(bridge);
    return gate ? PageEvents::of(gate->page()) : nullptr;
}

void tellNotifyingPage(const QString& message, const QString& sn)
{
    // A copy: a handler may end the scope's page.
    if (const QPointer<PageEvents> events = t_notifying)
        Q_EMIT events->hostNotified(message, sn);
}

} // namespace TaviWebModuleInternal
