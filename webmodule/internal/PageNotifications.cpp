#include "PageNotifications.h"

#include "BridgeAccess.h"
#include "LogText.h"
#include "Logging.h"
#include "PageEvents.h"
#include "PagePolicy.h"
#include "SideObject.h"
#include "WarningBudget.h"
#include "WebAccessPolicy.h"

#include <QtCore/QList>
#include <QtCore/QPointer>
#include <QtWebEngineCore/QWebEngineNotification>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineProfile>

namespace TaviWebModuleInternal {

namespace {

// Open pages in creation order.
QList<QPointer<PageNotifications>>& pages()
{
    static QList<QPointer<PageNotifications>> list;
    return list;
}

} // namespace

PageNotifications::PageNotifications(QWebEnginePage* page)
    : QObject(page)
{
    pages().append(this);
    presentOn(page->profile());
}

PageNotifications::~PageNotifications()
{
    pages().removeAll(this);
    qDeleteAll(m_shown);
}

PageNotifications* PageNotifications::of(const QWebEnginePage* page)
{
    return sideObject<PageNotifications>(page);
}

void PageNotifications::presentOn(QWebEngineProfile* profile)
{
    const QLatin1String mark("tavi-notifications");
    if (!profile || profile->findChild<QObject*>(mark, Qt::FindDirectChildrenOnly))
        return;
    (new QObject(profile))->setObjectName(mark);
    profile->setNotificationPresenter(
        [profile](std::unique_ptr<QWebEngineNotification> notification) {
            const QString origin = WebAccessPolicy::originOf(notification->origin());
            for (const QPointer<PageNotifications>& p : std::as_const(pages())) {
                auto* page = p ? static_cast<QWebEnginePage*>(p->parent()) : nullptr;
                const DocumentOrigin* document = page ? DocumentOrigin::of(page) : nullptr;
                if (!page || page->profile() != profile || !document || document->url().isEmpty()
                    || WebAccessPolicy::originOf(document->url()) != origin)
                    continue;
                const WebAccessPolicy& policy = policyFor(page);
                if (!policy.isTrusted(document->url())
                    || policy.permission(WebAccessPolicy::Notifications, document->url())
                        == WebAccessPolicy::Deny)
                    continue;
                p->show(std::move(notification));
                return;
            }
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Notification of %1 dropped: no page of that origin may show it")
                       .arg(escapeForLog(origin));
        });
}

void PageNotifications::show(std::unique_ptr<QWebEngineNotification> notification)
{
    auto* page = static_cast<QWebEnginePage*>(parent());
    const QString id = QStringLiteral("%1-%2").arg(pageIdOf(page)).arg(++m_next);
    QWebEngineNotification* n = notification.release();
    m_shown.insert(id, n);
    // Closed by the page, or replaced by one of the same tag.
    connect(n, &QWebEngineNotification::closed, this, [this, id] {
        if (QWebEngineNotification* gone = m_shown.take(id)) {
            gone->deleteLater();
            if (PageEvents* events = PageEvents::of(static_cast<QWebEnginePage*>(parent())))
                Q_EMIT events->notificationClosed(id);
        }
    });
    n->show();
    qCDebug(lcWebModule).noquote()
        << "Notification" << id << "of" << WebAccessPolicy::originOf(n->origin());
    if (PageEvents* events = PageEvents::of(page))
        Q_EMIT events->notificationShown(id, n->title(), n->message(), n->tag(),
                                         WebAccessPolicy::originOf(n->origin()));
}

bool PageNotifications::click(const QString& id)
{
    QWebEngineNotification* n = m_shown.value(id);
    if (!n) {
        qCWarning(lcWebModule) << "No notification" << id << "to click";
        return false;
    }
    n->click();
    return true;
}

bool PageNotifications::close(const QString& id)
{
    QWebEngineNotification* n = m_shown.take(id);
    if (!n) {
        qCWarning(lcWebModule) << "No notification" << id << "to close";
        return false;
    }
    n->close();
    n->deleteLater();
    return true;
}

} // namespace TaviWebModuleInternal
