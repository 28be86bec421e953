#include "PagePush.h"

#include "HostLines.h"
#include "JsScript.h"
#include "Logging.h"
#include "WarningBudget.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtWebEngineCore/QWebEnginePage>
#include <climits>
#include <utility>

namespace TaviWebModuleInternal {

namespace {

// Arguments longer than this go in pieces of this size: the GUI thread
// serves its events between them, where one script of many megabytes would
// hold it (see bench_push).
constexpr qsizetype kPieceLength = 512 * 1024;
// The most that waiting pushes put into one script, for the same reason.
constexpr qsizetype kBatchLength = 1024 * 1024;

void logResult(const QVariant& result)
{
    HostLine::debug() << result.toString();
}

quint64 nextTransfer()
{
    static quint64 transfer = 0; // GUI thread only
    return ++transfer;
}

// The host's push reaches every page in the same turn with the same
// arguments: its script is written once for all of them. (GUI thread only.)
const QString& guardedCallOnce(QLatin1String function, std::initializer_list<QString> args,
                               bool dropLineFeeds)
{
    static QLatin1String lastFunction;
    static QList<QString> lastArgs;
    static bool lastDrop = false;
    static QString script;
    const auto same = [&] {
        if (function != lastFunction || dropLineFeeds != lastDrop
            || qsizetype(args.size()) != lastArgs.size())
            return false;
        auto kept = lastArgs.cbegin();
        for (const QString& arg : args) {
            // Copies of one emitted text share its data.
            if (!(kept->constData() == arg.constData() && kept->size() == arg.size())
                && *kept != arg)
                return false;
            ++kept;
        }
        return true;
    };
    if (!same()) {
        script = jsGuardedCall(function, args, dropLineFeeds);
        lastFunction = function;
        lastArgs = args;
        lastDrop = dropLineFeeds;
    }
    return script;
}

// Pushers with a flush due in the next turn: one posted event serves all
// pages, not one each. (GUI thread only.)
QList<QPointer<PagePush>>& flushesDue()
{
    static QList<QPointer<PagePush>> due;
    return due;
}

} // namespace

PagePush::PagePush(QWebEnginePage* page, std::function<QString()> documentCheck, QObject* parent,
                   FullStatus fullStatus)
    : QObject(parent)
    , m_page(page)
    , m_documentCheck(std::move(documentCheck))
    , m_fullStatus(std::move(fullStatus))
{
    // A new document defines its functions anew; what the old one had not
    // answered, it never will.
    if (page) {
        connect(page, &QWebEnginePage::loadStarted, this, [this] {
            m_absentNoted.clear();
            forgetInFlight();
        });
        connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] { forgetInFlight(); });
    }
    m_dropReport.setSingleShot(true);
    m_dropReport.setInterval(1000);
    connect(&m_dropReport, &QTimer::timeout, this, [this] {
        const quint64 count = dropped() - std::exchange(m_droppedTold, dropped());
        if (count == 0)
            return;
        if (mayWarn(this->parent(), QStringLiteral("pushes over the budget"), 1))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("%1 pushes to a page that does not keep up were dropped over its "
                                  "budget of %2 bytes (%3)")
                       .arg(count)
                       .arg(budget())
                       .arg(m_page ? m_page->url().toDisplayString(QUrl::RemovePassword)
                                   : QString());
        Q_EMIT droppedOverBudget(int(qMin<quint64>(count, INT_MAX)));
    });
}

void PagePush::noteDropped()
{
    if (!m_dropReport.isActive())
        m_dropReport.start();
}

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock; // GUI thread only
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

bool PagePush::behind() const
{
    return !m_inFlight.empty() && monotonicMs() - m_inFlight.begin()->second.sentAt >= kBehindMs;
}

bool PagePush::mayRun() const
{
    return m_inFlightChars < kInFlightChars;
}

void PagePush::answered(quint64 sequence)
{
    const auto it = m_inFlight.find(sequence);
    if (it == m_inFlight.end())
        return;
    m_inFlightChars -= it->second.chars;
    m_inFlight.erase(it);
    if (!m_waiting.empty())
        scheduleFlush();
}

void PagePush::answeredUpTo(quint64 sequence)
{
    bool freed = false;
    while (!m_inFlight.empty() && m_inFlight.begin()->first < sequence) {
        m_inFlightChars -= m_inFlight.begin()->second.chars;
        m_inFlight.erase(m_inFlight.begin());
        freed = true;
    }
    if (freed && !m_waiting.empty())
        scheduleFlush();
}

void PagePush::forgetInFlight()
{
    m_inFlight.clear();
    m_inFlightChars = 0;
    if (!m_waiting.empty())
        scheduleFlush();
}

void PagePush::fullStatusWritten(const QString& text)
{
    if (m_waiting.empty() || !m_waiting.front().fullStatus)
        return;
    Item item;
    item.function = QLatin1String("emitDevStatus");
    if (text.size() <= kPieceLength) {
        item.arguments = jsArguments({ text }, true);
    } else {
        item.inPieces = true;
        item.args = { text };
        item.dropLineFeeds = true;
        item.transfer = nextTransfer();
    }
    m_waiting.replaceFront(std::move(item));
    scheduleFlush();
}

void PagePush::noteResult(QLatin1String function, const QVariant& result)
{
    if (!isAbsentFunction(result) || m_absentNoted.contains(function))
        return;
    m_absentNoted.append(function);
    qCDebug(lcWebModule).noquote()
        << QStringLiteral("The page has no function %1: its pushes are dropped (%2)")
               .arg(function,
                    m_page ? m_page->url().toDisplayString(QUrl::RemovePassword) : QString());
}

void PagePush::run(const QString& script, const std::function<void(const QVariant&)>& result)
{
    // The page outlives a view that its parent widget deleted first.
    if (!m_page)
        return;
    const QString check = m_documentCheck ? m_documentCheck() : QStringLiteral("true");
    if (check.isNull())
        return;
    // The script goes where the page shows a document when it arrives,
    // which may be a newer one than the check was made for; where any
    // document may have it, as it is.
    QString guarded;
    if (check != QLatin1String("true")) {
        guarded.reserve(script.size() + check.size() + 24);
        guarded += QLatin1String("(");
        guarded += check;
        guarded += QLatin1String(") ? (");
        guarded += script;
        guarded += QLatin1String(") : undefined");
    }
    const QString& sent = guarded.isNull() ? script : guarded;
    // Held until the page answers: counted against what may go ahead.
    const quint64 sequence = m_sequence++;
    m_inFlight.emplace(sequence, InFlight { sent.size(), monotonicMs() });
    m_inFlightChars += sent.size();
    m_page->runJavaScript(sent, [self = QPointer(this), sequence, result](const QVariant& value) {
        if (result)
            result(value);
        if (self)
            self->answered(sequence);
    });
}

void PagePush::push(QLatin1String function, std::initializer_list<QString> args, bool dropLineFeeds)
{
    qsizetype length = 0;
    for (const QString& arg : args)
        length += arg.size();
    Item item;
    item.function = function;
    if (length <= kPieceLength) {
        if (m_waiting.empty() && !m_flushScheduled && mayRun()) {
            // Alone: at once, as one script. Whatever follows in this turn waits.
            send(function, guardedCallOnce(function, args, dropLineFeeds));
            ++m_sent;
            scheduleFlush();
            return;
        }
        item.arguments = jsArguments(args, dropLineFeeds);
    } else {
        item.inPieces = true;
        item.args = args;
        item.dropLineFeeds = dropLineFeeds;
        item.transfer = nextTransfer();
    }
    if (m_waiting.add(std::move(item), behind()) == PushBacklog::Dropped) {
        noteDropped();
        return;
    }
    scheduleFlush();
}

void PagePush::send(QLatin1String function, const QString& script)
{
    run(script, [self = QPointer(this), function](const QVariant& result) {
        logResult(result);
        if (self)
            self->noteResult(function, result);
    });
}

void PagePush::scheduleFlush()
{
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    // Behind every event already waiting, the host's further pushes among
    // them.
    QList<QPointer<PagePush>>& due = flushesDue();
    if (due.isEmpty())
        QMetaObject::invokeMethod(QCoreApplication::instance(), &PagePush::flushDue,
                                  Qt::QueuedConnection);
    due.append(this);
}

void PagePush::flushDue()
{
    const QList<QPointer<PagePush>> due = std::exchange(flushesDue(), {});
    for (const QPointer<PagePush>& push : due)
        if (push)
            push->flush();
}

void PagePush::flush()
{
    m_flushScheduled = false;
    // The page's answers schedule the next flush.
    if (m_waiting.empty() || !mayRun())
        return;
    Item& front = m_waiting.front();
    if (front.fullStatus) {
        if (front.asked)
            return;
        front.asked = true;
        if (!m_fullStatus) {
            m_waiting.popFront();
            scheduleFlush();
            return;
        }
        // Taken now, as the page is ready for it: a device status pushed
        // after this waits behind it.
        m_fullStatus([self = QPointer(this)](const QString& text) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, text] {
                    if (self)
                        self->fullStatusWritten(text);
                },
                Qt::QueuedConnection);
        });
        return;
    }
    if (!front.inPieces) {
        QList<JsCall> calls;
        qsizetype length = 0;
        // No more than may go ahead of the page's answers.
        const qsizetype limit = qMin(kBatchLength, kInFlightChars - m_inFlightChars);
        while (!m_waiting.empty() && !m_waiting.front().inPieces && !m_waiting.front().fullStatus
               && (calls.isEmpty() || length + m_waiting.front().arguments.size() <= limit)) {
            Item item = m_waiting.takeFront();
            length += item.arguments.size();
            calls.append(JsCall { item.function, std::move(item.arguments) });
        }
        m_sent += quint64(calls.size());
        if (calls.size() == 1) {
            send(calls.constFirst().function, jsGuardedCall(calls.constFirst()));
        } else {
            QList<QLatin1String> functions;
            for (const JsCall& call : std::as_const(calls))
                functions.append(call.function);
            run(jsBatch(calls), [self = QPointer(this), functions](const QVariant& results) {
                // One line per push, as if each had gone alone (undefined
                // for all: the calls gave nothing, or the page could not run
                // the script).
                const QVariantList values = results.toList();
                for (qsizetype i = 0; i < functions.size(); ++i) {
                    logResult(values.value(i));
                    if (self)
                        self->noteResult(functions.at(i), values.value(i));
                }
            });
        }
    } else {
        sendPiece(m_waiting.front());
    }
    if (!m_waiting.empty())
        scheduleFlush();
}

void PagePush::sendPiece(Item& item)
{
    if (item.arg < item.args.size()) {
        const QString& text = item.args.at(item.arg);
        qsizetype length = qMin(kPieceLength, text.size() - item.from);
        // A surrogate pair stays in one piece.
        if (length > 0 && item.from + length < text.size()
            && text.at(item.from + length - 1).isHighSurrogate())
            ++length;
        const QStringView slice = QStringView(text).mid(item.from, length);
        item.sent += slice.size() - (item.dropLineFeeds ? slice.count(QLatin1Char('\n')) : 0);
        run(jsPiece(item.transfer, item.arg, slice, item.dropLineFeeds));
        item.from += length;
        if (item.from >= text.size()) {
            ++item.arg;
            item.from = 0;
        }
        return;
    }
    send(item.function,
         jsPiecedCall(item.function, item.transfer, int(item.args.size()), item.sent));
    ++m_sent;
    m_waiting.popFront();
}

} // namespace TaviWebModuleInternal
