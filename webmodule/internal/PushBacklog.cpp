#include "PushBacklog.h"

#include <algorithm>

namespace TaviWebModuleInternal {

namespace {

enum class Kind { DeviceStatus, KeyedState, Message };

Kind kindOf(QLatin1String function)
{
    if (function == QLatin1String("emitDevStatus"))
        return Kind::DeviceStatus;
    // The data cache holds one value a key; the token is one value.
    if (function == QLatin1String("emitDataCacheNotify")
        || function == QLatin1String("emitUserToken"))
        return Kind::KeyedState;
    return Kind::Message;
}

// The key of a keyed state: its first argument as the script writes it (a
// single-quoted literal, quotes escaped inside), or as a call in pieces
// holds it.
QStringView keyOf(const PushItem& item)
{
    if (item.inPieces)
        return item.args.isEmpty() ? QStringView() : QStringView(item.args.constFirst());
    if (item.function == QLatin1String("emitUserToken"))
        return QStringView();
    const QStringView text(item.arguments);
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\'))
            ++i;
        else if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (c == QLatin1Char(',') && !quoted)
            return text.left(i);
    }
    return text;
}

} // namespace

qsizetype PushItem::bytes() const
{
    qsizetype chars = arguments.size();
    for (const QString& a : args)
        chars += a.size();
    return chars * qsizetype(sizeof(QChar)) + qsizetype(sizeof(PushItem));
}

void PushBacklog::setBudget(qsizetype bytes)
{
    m_budget = bytes < 0 ? kDefaultBudget : bytes;
}

void PushBacklog::popFront()
{
    m_bytes -= m_items.front().bytes();
    m_fullStatuses -= m_items.front().fullStatus ? 1 : 0;
    m_items.pop_front();
}

PushItem PushBacklog::takeFront()
{
    m_bytes -= m_items.front().bytes();
    m_fullStatuses -= m_items.front().fullStatus ? 1 : 0;
    PushItem item = std::move(m_items.front());
    m_items.pop_front();
    return item;
}

void PushBacklog::replaceFront(PushItem item)
{
    m_bytes += item.bytes() - m_items.front().bytes();
    m_fullStatuses += (item.fullStatus ? 1 : 0) - (m_items.front().fullStatus ? 1 : 0);
    m_items.front() = std::move(item);
}

template<class Match> int PushBacklog::removeWaiting(Match match)
{
    int removed = 0;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (!it->begun() && !it->fullStatus && match(*it)) {
            m_bytes -= it->bytes();
            it = m_items.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

bool PushBacklog::fullStatusWaiting() const
{
    // Asked at every device status: under a large budget the backlog grows
    // long without any full status, and is not walked then.
    if (m_fullStatuses == 0)
        return false;
    return std::any_of(m_items.begin(), m_items.end(),
                       [](const PushItem& item) { return item.fullStatus && !item.begun(); });
}

PushBacklog::Outcome PushBacklog::add(PushItem item, bool enforce)
{
    const Kind kind = kindOf(item.function);
    // The full status due is written when it goes: it holds this one too.
    if (kind == Kind::DeviceStatus && !item.fullStatus && fullStatusWaiting()) {
        ++m_replaced;
        return Replaced;
    }
    const qsizetype size = item.bytes();
    if (m_bytes + size <= m_budget || !enforce) {
        m_bytes += size;
        m_fullStatuses += item.fullStatus ? 1 : 0;
        m_items.push_back(std::move(item));
        return Queued;
    }
    // Over the budget: every waiting device status gives way to one full
    // status at the end, this one among them.
    const int statuses = removeWaiting(
        [](const PushItem& waiting) { return kindOf(waiting.function) == Kind::DeviceStatus; });
    m_replaced += quint64(statuses);
    if (kind == Kind::DeviceStatus || statuses > 0) {
        PushItem full;
        full.function = QLatin1String("emitDevStatus");
        full.fullStatus = true;
        m_bytes += full.bytes();
        ++m_fullStatuses;
        m_items.push_back(std::move(full));
        if (kind == Kind::DeviceStatus) {
            ++m_replaced;
            return Replaced;
        }
    }
    Outcome outcome = Queued;
    if (kind == Kind::KeyedState) {
        const QStringView key = keyOf(item);
        const int older = removeWaiting([&](const PushItem& waiting) {
            return waiting.function == item.function && keyOf(waiting) == key;
        });
        m_replaced += quint64(older);
        if (older > 0)
            outcome = Replaced;
    }
    if (m_bytes + size > m_budget) {
        if (kind == Kind::Message) {
            ++m_dropped;
            return Dropped;
        }
        // A state is kept: the oldest messages make room for it. The states
        // waiting are at most one a key, which the host's own state bounds.
        while (m_bytes + size > m_budget) {
            const auto message
                = std::find_if(m_items.begin(), m_items.end(), [](const PushItem& w) {
                      return !w.begun() && kindOf(w.function) == Kind::Message;
                  });
            if (message == m_items.end())
                break;
            m_bytes -= message->bytes();
            m_items.erase(message);
            ++m_dropped;
        }
    }
    m_bytes += size;
    m_fullStatuses += item.fullStatus ? 1 : 0;
    m_items.push_back(std::move(item));
    return outcome;
}

} // namespace TaviWebModuleInternal
