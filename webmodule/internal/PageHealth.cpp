#include "PageHealth.h"

#include "Logging.h"
#include "PageEvents.h"
#include "PagePush.h"
#include "SideObject.h"
#include "WarningBudget.h"

#include <QtCore/QThread>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWidgets/QApplication>
#include <climits>
#include <utility>

namespace TaviWebModuleInternal {

namespace {

QString pageText(const QWebEnginePage* page)
{
    return page ? page->url().toDisplayString(QUrl::RemovePassword) : QString();
}

} // namespace

PageHealth::PageHealth(QWebEnginePage* page, QWidget* view, PagePush* push, QObject* owner)
    : QObject(owner)
    , m_page(page)
    , m_view(view)
    , m_push(push)
{
    m_clock.start();
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        m_loading = true;
        forgetProbe();
    });
    connect(page, &QWebEnginePage::loadFinished, this, [this] {
        m_loading = false;
        forgetProbe();
    });
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] { forgetProbe(); });
    if (PageEvents* events = PageEvents::of(page))
        connect(events, &PageEvents::bridgeCallRefused, this, [this] { ++m_refusals; });
    connect(&m_timer, &QTimer::timeout, this, &PageHealth::tick);
    setTimeoutMs(-1);
    m_timer.start();
}

void PageHealth::setTimeoutMs(int ms)
{
    m_timeoutMs = ms < 0 ? kDefaultTimeoutMs : qMax(1, ms);
    // A few questions within the time-out, at most one a second.
    m_timer.setInterval(qBound(20, m_timeoutMs / 5, 1000));
}

void PageHealth::countBridgeCall(const QObject* bridge)
{
    if (!bridge || bridge->thread() != QThread::currentThread())
        return;
    if (PageHealth* health = sideObject<PageHealth>(bridge->parent()))
        ++health->m_bridgeCalls;
}

bool PageHealth::judged() const
{
    if (!m_page || m_loading || m_page->renderProcessPid() <= 0)
        return false;
    if (!m_view || !m_view->isVisible())
        return false;
    if (m_page->lifecycleState() != QWebEnginePage::LifecycleState::Active)
        return false;
    return QApplication::activeModalWidget() == nullptr;
}

void PageHealth::tick()
{
    const qint64 now = m_clock.elapsed();
    const qint64 sinceTick = now - std::exchange(m_lastTick, now);
    if (!judged()) {
        forgetProbe();
        return;
    }
    if (m_askedAt < 0) {
        const quint64 probe = ++m_probe;
        const quint64 sequence = m_push ? m_push->nextSequence() : 0;
        m_askedAt = now;
        m_page->runJavaScript(QStringLiteral("1"), QWebEngineScript::ApplicationWorld,
                              [self = QPointer(this), probe, sequence](const QVariant&) {
                                  if (self)
                                      self->answered(probe, sequence);
                              });
        return;
    }
    // The GUI thread was held: the answer may be waiting behind it.
    if (sinceTick > 3 * qint64(m_timer.interval())) {
        m_askedAt = now;
        return;
    }
    const qint64 silent = now - m_askedAt;
    if (!m_unresponsive && silent >= m_timeoutMs) {
        m_unresponsive = true;
        m_recoveryTold = false;
        m_goneSince = m_askedAt;
        if (mayWarn(parent(), QStringLiteral("pages that stop answering"), 1))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("The page has not answered for %1 ms: %2")
                       .arg(silent)
                       .arg(pageText(m_page));
        Q_EMIT unresponsive(int(silent));
    }
    if (m_unresponsive && m_recoveryMs > 0 && !m_recoveryTold
        && now - m_goneSince >= m_recoveryMs) {
        m_recoveryTold = true;
        if (mayWarn(parent(), QStringLiteral("renderer restarts of pages that stop answering"), 1))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral(
                       "The page has not answered for %1 ms: restarting its renderer (%2)")
                       .arg(now - m_goneSince)
                       .arg(pageText(m_page));
        Q_EMIT recoveryDue();
    }
}

void PageHealth::answered(quint64 probe, quint64 sequence)
{
    if (probe != m_probe)
        return;
    const qint64 now = m_clock.elapsed();
    m_askedAt = -1;
    m_answeredAt = now;
    if (m_push)
        m_push->answeredUpTo(sequence);
    if (!m_unresponsive)
        return;
    m_unresponsive = false;
    const qint64 gone = now - m_goneSince;
    if (mayWarn(parent(), QStringLiteral("pages answering again"), 1))
        qCInfo(lcWebModule).noquote() << QStringLiteral("The page answers again after %1 ms: %2")
                                             .arg(gone)
                                             .arg(pageText(m_page));
    Q_EMIT responsive(int(qMin<qint64>(gone, INT_MAX)));
}

} // namespace TaviWebModuleInternal
