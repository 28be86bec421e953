#include "WarningBudget.h"

#include "LogText.h"
#include "Logging.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <mutex>

namespace TaviWebModuleInternal {

namespace {

struct Budget
{
    int limit = kWarningsPerSecond; // as the first warning of its second gave it
    int logged = 0;
    int dropped = 0;
};

struct Owner
{
    qint64 start = 0; // of its current second
    QHash<QString, Budget> sources;
};

struct Dropped
{
    QString source;
    int count;
    int limit;
};

class Budgets
{
public:
    Budgets() { m_clock.start(); }

    // *watch: owner is new here and its end must be watched.
    bool take(const QObject* owner, const QString& source, int limit, bool* scheduleReport,
              bool* watch)
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
            QString key = source;
            if (!o.sources.contains(key) && o.sources.size() >= kWarningSourcesPerOwner)
                key = QStringLiteral("other sources");
            Budget& b = o.sources[key];
            if (b.logged == 0 && b.dropped == 0)
                b.limit = limit;
            allowed = b.logged < b.limit;
            if (allowed) {
                ++b.logged;
            } else if (b.dropped++ == 0 && !m_reportScheduled) {
                m_reportScheduled = true;
                *scheduleReport = true;
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
                over->push_back({ s.key(), s->dropped, s->limit });
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
        for (const Dropped& d : over)
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Dropped %1 warnings about %2 (at most %3 a second)")
                       .arg(QString::number(d.count), escapeForLog(d.source),
                            QString::number(d.limit));
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

} // namespace

bool mayWarn(const QObject* owner, const QString& source, int perSecond)
{
    bool schedule = false;
    bool watch = false;
    const bool allowed = budgets().take(owner, source, perSecond, &schedule, &watch);
    // Called where owner ends, on whichever thread that is.
    if (watch)
        QObject::connect(owner, &QObject::destroyed,
                         [key = quintptr(owner)] { budgets().forget(key); });
    if (schedule)
        scheduleReport();
    return allowed;
}

} // namespace TaviWebModuleInternal
