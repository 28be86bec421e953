#pragma once

// Internal to the module: how a web widget hands its pushes to its page.

#include "PushBacklog.h"

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <functional>
#include <initializer_list>
#include <map>

class QWebEnginePage;

namespace TaviWebModuleInternal {

// Calls page functions in the page, in the order of push(), each once, and
// logs each call's value as a host line (see HostLines.h). A push
// that comes alone goes at once, as one script. Pushes that come while
// earlier ones of the same turn of the event loop are still being handed
// over (a storm from a host thread) wait and go together in one script. A
// push with long arguments goes in pieces, and the GUI thread serves its
// events between them. Each script is asked for documentCheck as it goes: a
// null text sends nothing; otherwise the script runs only where that
// JavaScript condition holds, judged in the document it lands in when it
// runs (a document that replaced the one checked gets nothing). A push to a
// function the page has not defined is dropped in the page; the log says so
// once per document and function.
//
// What the page has not yet answered is held by the engine for it: at most
// kInFlightChars of script go ahead of the page's answers, the rest waits
// here in a PushBacklog within the page's budget. A page that does not
// answer thus costs the host at most both (and what came within kBehindMs
// of its last answer), however long it is gone; the
// device statuses it missed reach it as one full status (fullStatus) once it
// answers. Messages dropped over the budget are told once a second, in one
// line and as droppedOverBudget(count).
class PagePush : public QObject
{
    Q_OBJECT
public:
    // Writes the host's full device status and hands it to the callback,
    // at once or later from any thread.
    using FullStatus = std::function<void(std::function<void(const QString&)>)>;

    PagePush(QWebEnginePage* page, std::function<QString()> documentCheck, QObject* parent,
             FullStatus fullStatus = FullStatus());

    void push(QLatin1String function, std::initializer_list<QString> args,
              bool dropLineFeeds = false);

    // The backlog's budget in bytes; < 0: the default.
    void setBudget(qsizetype bytes) { m_waiting.setBudget(bytes); }
    qsizetype budget() const { return m_waiting.budget(); }

    // What the page has been given and what waits, for the page's health.
    quint64 sent() const { return m_sent; }
    qsizetype waiting() const { return qsizetype(m_waiting.size()); }
    qsizetype waitingBytes() const { return m_waiting.bytes(); }
    qsizetype inFlight() const { return qsizetype(m_inFlight.size()); }
    quint64 replaced() const { return m_waiting.replaced(); }
    quint64 dropped() const { return m_waiting.dropped(); }

    // The number the next script goes with; a probe sent now that the page
    // answers proves that every script before it has run.
    quint64 nextSequence() const { return m_sequence; }
    void answeredUpTo(quint64 sequence);
    // The page's document or renderer went: what was in flight is no more.
    void forgetInFlight();

    // Scripts ahead of the page's answers, in characters.
    static constexpr qsizetype kInFlightChars = 256 * 1024;
    static constexpr qint64 kBehindMs = 1000;

Q_SIGNALS:
    // count messages were dropped over the budget since the last time.
    void droppedOverBudget(int count);

private:
    using Item = PushItem;

    // Sends script with the document check, if the page may receive it now.
    void run(const QString& script,
             const std::function<void(const QVariant&)>& result
             = std::function<void(const QVariant&)>());
    void send(QLatin1String function, const QString& script);
    void answered(quint64 sequence);
    bool mayRun() const;
    // The page has left a script unanswered for kBehindMs: the budget holds.
    bool behind() const;
    void noteDropped();
    void fullStatusWritten(const QString& text);
    // Notes, once per document, a push that found no page function.
    void noteResult(QLatin1String function, const QVariant& result);
    void scheduleFlush();
    static void flushDue();
    void flush();
    // The next piece (or, after the last, the call) of the long call in front.
    void sendPiece(Item& item);

    QPointer<QWebEnginePage> m_page;
    std::function<QString()> m_documentCheck;
    PushBacklog m_waiting;
    bool m_flushScheduled = false;
    QList<QLatin1String> m_absentNoted;
    FullStatus m_fullStatus;
    bool m_fullStatusAsked = false;
    struct InFlight
    {
        qsizetype chars;
        qint64 sentAt; // ms of the module's monotonic clock
    };
    // Scripts not answered, by sequence.
    std::map<quint64, InFlight> m_inFlight;
    qsizetype m_inFlightChars = 0;
    quint64 m_sequence = 1;
    quint64 m_sent = 0;
    quint64 m_droppedTold = 0;
    QTimer m_dropReport;
};

} // namespace TaviWebModuleInternal
