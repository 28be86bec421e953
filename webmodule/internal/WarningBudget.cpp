#include "WarningBudget.h"

#include "LogText.h"
#include "Logging.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QStringList>
#include <QtCore/QTimer>
#include <mutex>

namespace TaviWebModuleInternal {

namespace {

struct Budget
{
    int limit = kWarningsPerSecond; // as the first warning of its second gave it
    int logged = 0;
    int dropped = 0;
    QSet<QString> keys; // that passed this second
    QStringList unlogged; // keys dropped without any line, the first few
    int moreUnlogged = 0; // beyond those
};

// Of the unlogged keys, the count's line names this many.
constexpr int kNamedUnlogged = 8;

struct Owner
{
    qint64 start = 0; // of its current second
    int firsts = 0; // keys let past the budget this second
    QHash<QString, Budget> sources; // by kind and source
};

enum class Kind : char { Lines = 'l', Signals = 's' };

struct Dropped
{
    Kind kind;
    QString source;
    int count;
    int limit;
    QStringList unlogged;
    int moreUnlogged;
};

class Budgets
{
public:
    Budgets() { m_clock.start(); }

    // *watch: owner is new here and its end must be watched.
    bool take(const QObject* owner, Kind kind, const QString& source, const QString& key, int limit,
              bool* scheduleReport, bool* watch)
    {
        std::vector<Dropped> over;
        bool allowed = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const qint64 now = m_clock.elapsed();
            if (now - m_lastSweep >= 1000)
                sweep(now, &over);
            if (owner && !m_watched.contains(quintptr(owner))) {
                m_watched.insert(quintptr(owner));
                *watch = true;
            }
            Owner& o = m_owners[quintptr(owner)];
            if (o.sources.isEmpty())
                o.start = now;
            QString name = QChar(char(kind)) + source;
            if (!o.sources.contains(name) && o.sources.size() >= kWarningSourcesPerOwner)
                name = QChar(char(kind)) + QStringLiteral("other sources");
            Budget& b = o.sources[name];
            if (b.logged == 0 && b.dropped == 0)
                b.limit = limit;
            const bool newKey = !key.isEmpty() && !b.keys.contains(key);
            allowed = b.logged < b.limit || (newKey && o.firsts < kWarningFirstsPerSecond);
            if (allowed) {
                if (b.logged++ >= b.limit)
                    ++o.firsts;
                if (!key.isEmpty())
                    b.keys.insert(key);
            } else {
                if (newKey && !b.unlogged.contains(key)) {
                    if (b.unlogged.size() < kNamedUnlogged)
                        b.unlogged.append(key);
                    else
                        ++b.moreUnlogged;
                }
                if (b.dropped++ == 0 && !m_reportScheduled) {
                    m_reportScheduled = true;
                    *scheduleReport = true;
                }
            }
        }
        log(over);
        return allowed;
    }

    // True when counts are left whose second is not over yet.
    bool report()
    {
        std::vector<Dropped> over;
        bool pending = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            pending = sweep(m_clock.elapsed(), &over);
            m_reportScheduled = pending;
        }
        log(over);
        return pending;
    }

    void forget(quintptr owner)
    {
        std::vector<Dropped> over;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_watched.remove(owner);
            const auto o = m_owners.constFind(owner);
            if (o == m_owners.cend())
                return;
            collect(*o, &over);
            m_owners.erase(o);
        }
        log(over);
    }

private:
    static void collect(const Owner& o, std::vector<Dropped>* over)
    {
        for (auto s = o.sources.cbegin(); s != o.sources.cend(); ++s)
            if (s->dropped > 0)
                over->push_back({ Kind(s.key().at(0).toLatin1()), s.key().mid(1), s->dropped,
                                  s->limit, s->unlogged, s->moreUnlogged });
    }

    bool sweep(qint64 now, std::vector<Dropped>* over)
    {
        m_lastSweep = now;
        bool pending = false;
        for (auto o = m_owners.begin(); o != m_owners.end();) {
            if (now - o->start < 1000) {
                for (const Budget& b : std::as_const(o->sources))
                    pending = pending || b.dropped > 0;
                ++o;
                continue;
            }
            collect(*o, over);
            o = m_owners.erase(o);
        }
        return pending;
    }

    static void log(const std::vector<Dropped>& over)
    {
        for (const Dropped& d : over) {
            QString line = QStringLiteral("Dropped %1 %2 about %3 (at most %4 a second)")
                               .arg(QString::number(d.count),
                                    QLatin1String(d.kind == Kind::Lines ? "warnings" : "signals"),
                                    escapeForLog(d.source), QString::number(d.limit));
            if (!d.unlogged.isEmpty()) {
                QStringList names;
                for (const QString& key : d.unlogged)
                    names.append(escapeForLog(key));
                line += QStringLiteral(", none logged of: ") + names.join(QLatin1String(", "));
                if (d.moreUnlogged > 0)
                    line += QStringLiteral(" and %1 more").arg(d.moreUnlogged);
            }
            qCWarning(lcWebModule).noquote() << line;
        }
    }

    std::mutex m_mutex;
    QElapsedTimer m_clock;
    qint64 m_lastSweep = 0;
    bool m_reportScheduled = false;
    QHash<quintptr, Owner> m_owners;
    QSet<quintptr> m_watched; // owners whose end is watched
};

Budgets& budgets()
{
    static Budgets s_budgets;
    return s_budgets;
}

} // namespace

namespace {

// The counts are told when their second is over, even if no warning
// follows; the timer lives on the application's thread.
void scheduleReport()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [app] {
            QTimer::singleShot(1000, app, [] {
                if (budgets().report())
                    scheduleReport();
            });
        },
        Qt::QueuedConnection);
}

bool mayPass(const QObject* owner, Kind kind, const QString& source, const QString& key,
             int perSecond)
{
    bool schedule = false;
    bool watch = false;
    const bool allowed = budgets().take(owner, kind, source, key, perSecond, &schedule, &watch);
    // Called where owner ends, on whichever thread that is.
    if (watch)
        QObject::connect(owner, &QObject::destroyed,
                         [ended = quintptr(owner)] { budgets().forget(ended); });
    if (schedule)
        scheduleReport();
    return allowed;
}

} // namespace

bool mayWarn(const QObject* owner, const QString& source, int perSecond, const QString& key)
{
    return mayPass(owner, Kind::Lines, source, key, perSecond);
}

bool maySignal(const QObject* owner, const QString& source, const QString& key)
{
    return mayPass(owner, Kind::Signals, source, key, kWarningsPerSecond);
}

} // namespace TaviWebModuleInternal
