#pragma once

// Internal to the module: the page's budget of time holding the host's
// window (see BlockingLedger.h), kept beside the page as a side object, and
// the guards its blocking calls and dialogs run under. A call or dialog over
// the budget is answered at once, as a time-out or as cancelled; it leaves
// one line within the page's warning budget and tells the host through the
// page's blockingBudgetExceeded(method), once a window for each method.
// A bridge or page no web widget hosts has no budget: only the caps apply.
// GUI thread only.

#include "BlockingLedger.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <optional>

class QWebEnginePage;

namespace TaviWebModuleInternal {

class BlockingBudget : public QObject
{
    Q_OBJECT
public:
    // A child of page.
    explicit BlockingBudget(QWebEnginePage* page);
    static BlockingBudget* of(const QWebEnginePage* page);
    // The budget of the bridge's page, or null.
    static BlockingBudget* ofBridge(const QObject* bridge);

    // nullopt: the process default. Values are clamped: window at least
    // 1 ms, budget at least 0.
    void setLimits(std::optional<BlockingLimits> limits);
    BlockingLimits limits() const;
    static void setDefaultLimits(BlockingLimits limits);
    static BlockingLimits defaultLimits();

    BlockingLedger& ledger() { return m_ledger; }
    // The module's monotonic clock, in ms.
    static qint64 now();
    // The line and the signal of a refusal; answeredAs: "a time-out", "cancelled".
    void refused(const char* method, const char* answeredAs);

private:
    QWebEnginePage* m_page;
    std::optional<BlockingLimits> m_limits;
    BlockingLedger m_ledger;
    QHash<QString, qint64> m_told; // method -> when its signal was last sent
};

// Runs a page's blocking call under its budget: cuts *timeout to what is
// left (a debug line says so); refused() when the call is to be answered at
// once. The time until the guard ends counts as held.
class BlockingCall
{
public:
    BlockingCall(const QObject* bridge, const char* method, int* timeout);
    ~BlockingCall();
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;
    bool refused() const { return m_refused; }

private:
    QPointer<BlockingBudget> m_budget; // the page may go during the call
    qint64 m_start = 0;
    bool m_refused = false;
};

// The same for a modal dialog of the page: refused() when it is not to
// open; the time until the guard ends counts as held unless it is the
// operator's first (see BlockingLedger).
class ModalTurn
{
public:
    ModalTurn(const QWebEnginePage* page, const char* method);
    ModalTurn(const QObject* bridge, const char* method);
    ~ModalTurn();
    ModalTurn(const ModalTurn&) = delete;
    ModalTurn& operator=(const ModalTurn&) = delete;
    bool refused() const { return m_turn == BlockingLedger::DialogTurn::Refused; }

private:
    void begin(BlockingBudget* budget, const char* method);

    QPointer<BlockingBudget> m_budget;
    qint64 m_start = 0;
    BlockingLedger::DialogTurn m_turn = BlockingLedger::DialogTurn::Free;
};

} // namespace TaviWebModuleInternal
