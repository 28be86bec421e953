#include "BlockingBudget.h"

#include "BridgeAccess.h"
#include "Logging.h"
#include "PageEvents.h"
#include "SideObject.h"
#include "WarningBudget.h"

#include <QtWebEngineCore/QWebEnginePage>
#include <atomic>

namespace TaviWebModuleInternal {

namespace {

std::atomic<int> s_defaultBudgetMs { BlockingLimits().budgetMs };
std::atomic<int> s_defaultWindowMs { BlockingLimits().windowMs };

BlockingLimits clamped(BlockingLimits limits)
{
    limits.windowMs = qMax(1, limits.windowMs);
    limits.budgetMs = qMax(0, limits.budgetMs);
    return limits;
}

} // namespace

BlockingBudget::BlockingBudget(QWebEnginePage* page)
    : QObject(page)
    , m_page(page)
{}

BlockingBudget* BlockingBudget::of(const QWebEnginePage* page)
{
    return sideObject<BlockingBudget>(page);
}

BlockingBudget* BlockingBudget::ofBridge(const QObject* bridge)
{
    const BridgeGate* gate = BridgeGate::of(bridge);
    return gate ? of(gate->page()) : nullptr;
}

void BlockingBudget::setLimits(std::optional<BlockingLimits> limits)
{
    m_limits = limits ? std::optional<BlockingLimits>(clamped(*limits)) : std::nullopt;
}

BlockingLimits BlockingBudget::limits() const
{
    return m_limits ? *m_limits : defaultLimits();
}

void BlockingBudget::setDefaultLimits(BlockingLimits limits)
{
    limits = clamped(limits);
    s_defaultBudgetMs = limits.budgetMs;
    s_defaultWindowMs = limits.windowMs;
}

BlockingLimits BlockingBudget::defaultLimits()
{
    return { s_defaultBudgetMs, s_defaultWindowMs };
}

qint64 BlockingBudget::now()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

void BlockingBudget::refused(const char* method, const char* answeredAs)
{
    const BlockingLimits l = limits();
    const qint64 at = now();
    if (mayWarn(m_page, QStringLiteral("calls over the blocking budget"), kWarningsPerSecond,
                QLatin1String(method)))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Refused %1: the page has held the window %2 ms of the last %3 ms "
                              "(its budget: %4 ms); answered at once as %5")
                   .arg(QLatin1String(method), QString::number(m_ledger.held(at, l)),
                        QString::number(l.windowMs), QString::number(l.budgetMs),
                        QLatin1String(answeredAs));
    // The host hears of an overrun, not of every call a looping page makes.
    const QString name = QLatin1String(method);
    const auto told = m_told.constFind(name);
    if (told != m_told.cend() && at - *told < l.windowMs)
        return;
    m_told.insert(name, at);
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->blockingBudgetExceeded(name);
}

BlockingCall::BlockingCall(const QObject* bridge, const char* method, int* timeout)
    : m_budget(BlockingBudget::ofBridge(bridge))
{
    if (!m_budget)
        return;
    m_start = BlockingBudget::now();
    const std::optional<qint64> allowance
        = m_budget->ledger().callAllowance(m_start, m_budget->limits(), *timeout);
    if (!allowance) {
        m_refused = true;
        m_budget->refused(method, "a time-out");
        return;
    }
    if (*timeout > *allowance) {
        qCDebug(lcWebModule).noquote()
            << QStringLiteral("%1: time-out %2 ms cut to the %3 ms left of the page's blocking "
                              "budget")
                   .arg(QLatin1String(method), QString::number(*timeout),
                        QString::number(*allowance));
        *timeout = int(*allowance);
    }
}

BlockingCall::~BlockingCall()
{
    if (m_budget && !m_refused)
        m_budget->ledger().callEnded(m_start, BlockingBudget::now());
}

ModalTurn::ModalTurn(const QWebEnginePage* page, const char* method)
{
    begin(BlockingBudget::of(page), method);
}

ModalTurn::ModalTurn(const QObject* bridge, const char* method)
{
    begin(BlockingBudget::ofBridge(bridge), method);
}

void ModalTurn::begin(BlockingBudget* budget, const char* method)
{
    m_budget = budget;
    if (!m_budget)
        return;
    m_start = BlockingBudget::now();
    m_turn = m_budget->ledger().dialogOpened(m_start, m_budget->limits());
    if (refused())
        m_budget->refused(method, "cancelled");
}

ModalTurn::~ModalTurn()
{
    if (m_budget)
        m_budget->ledger().dialogEnded(m_turn, m_start, BlockingBudget::now());
}

} // namespace TaviWebModuleInternal
