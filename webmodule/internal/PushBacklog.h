#pragma once

// Internal to the module: the pushes that wait for one page, within a
// budget of bytes. A page that does not answer must not make the host hold
// everything the host sends it. Over the budget, pushes that carry a state
// give way to the latest of that state: the device statuses waiting are
// replaced by one full status, written when it is due (FullStatus), and a
// data cache value or user token by the newest of its key. A push that is
// a message (a notice, a server or host response) that still does not fit
// is dropped and counted. Qt Core only; one thread.

#include <QtCore/QLatin1String>
#include <QtCore/QList>
#include <QtCore/QString>
#include <deque>

namespace TaviWebModuleInternal {

// One waiting page call.
struct PushItem
{
    QLatin1String function;
    QString arguments; // as a script writes them
    bool inPieces = false;
    QList<QString> args; // of a call in pieces
    bool dropLineFeeds = false;
    // The device status of the host as it stands when the item is sent, in
    // place of the statuses it replaced (function is emitDevStatus).
    bool fullStatus = false;
    bool asked = false; // that status is being written
    // Where the pieces stand.
    quint64 transfer = 0;
    int arg = 0;
    qsizetype from = 0;
    qsizetype sent = 0;

    // Begun: some of it has gone to the page; it cannot be replaced.
    bool begun() const { return arg > 0 || from > 0 || asked; }
    qsizetype bytes() const;
};

class PushBacklog
{
public:
    // The default budget, in bytes of text held.
    static constexpr qsizetype kDefaultBudget = 2 * 1024 * 1024;

    enum Outcome {
        Queued, // waits at the end
        Replaced, // waits, older states of its kind gave way; or a full status covers it
        Dropped, // a message over the budget: not kept
    };

    // bytes < 0: the default.
    void setBudget(qsizetype bytes);
    qsizetype budget() const { return m_budget; }

    // enforce false (the page keeps up): the item waits, over the budget
    // too; a burst for a page that answers is not thinned out.
    Outcome add(PushItem item, bool enforce = true);

    bool empty() const { return m_items.empty(); }
    size_t size() const { return m_items.size(); }
    PushItem& front() { return m_items.front(); }
    void popFront();
    PushItem takeFront();
    void replaceFront(PushItem item);
    // The text held, in bytes.
    qsizetype bytes() const { return m_bytes; }
    // Pushes that gave way to newer states, and messages dropped, since the start.
    quint64 replaced() const { return m_replaced; }
    quint64 dropped() const { return m_dropped; }

private:
    // Removes the waiting items that match, not begun; their count.
    template<class Match> int removeWaiting(Match match);
    bool fullStatusWaiting() const;

    std::deque<PushItem> m_items;
    qsizetype m_budget = kDefaultBudget;
    qsizetype m_bytes = 0;
    qsizetype m_fullStatuses = 0; // items with fullStatus, begun or not
    quint64 m_replaced = 0;
    quint64 m_dropped = 0;
};

} // namespace TaviWebModuleInternal
