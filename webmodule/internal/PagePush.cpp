#include "PagePush.h"

#include "HostLines.h"
#include "JsScript.h"
#include "Logging.h"

#include <QtCore/QCoreApplication>
#include <QtWebEngineCore/QWebEnginePage>

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

PagePush::PagePush(QWebEnginePage* page, std::function<QString()> documentCheck, QObject* parent)
    : QObject(parent)
    , m_page(page)
    , m_documentCheck(std::move(documentCheck))
{
    // A new document defines its functions anew.
    if (page)
        connect(page, &QWebEnginePage::loadStarted, this, [this] { m_absentNoted.clear(); });
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
    if (result)
        m_page->runJavaScript(sent, result);
    else
        m_page->runJavaScript(sent);
}

void PagePush::push(QLatin1String function, std::initializer_list<QString> args, bool dropLineFeeds)
{
    qsizetype length = 0;
    for (const QString& arg : args)
        length += arg.size();
    Item item;
    item.function = function;
    if (length <= kPieceLength) {
        if (m_waiting.empty() && !m_flushScheduled) {
            // Alone: at once, as one script. Whatever follows in this turn waits.
            send(function, guardedCallOnce(function, args, dropLineFeeds));
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
    m_waiting.push_back(std::move(item));
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
    if (m_waiting.empty())
        return;
    if (!m_waiting.front().inPieces) {
        QList<JsCall> calls;
        qsizetype length = 0;
        while (
            !m_waiting.empty() && !m_waiting.front().inPieces
            && (calls.isEmpty() || length + m_waiting.front().arguments.size() <= kBatchLength)) {
            Item& item = m_waiting.front();
            length += item.arguments.size();
            calls.append(JsCall { item.function, std::move(item.arguments) });
            m_waiting.pop_front();
        }
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
    m_waiting.pop_front();
}

} // namespace TaviWebModuleInternal
