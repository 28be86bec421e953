#pragma once

// Internal to the module: how a web widget hands its pushes to its page.

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <deque>
#include <functional>
#include <initializer_list>

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
class PagePush : public QObject
{
    Q_OBJECT
public:
    PagePush(QWebEnginePage* page, std::function<QString()> documentCheck, QObject* parent);

    void push(QLatin1String function, std::initializer_list<QString> args,
              bool dropLineFeeds = false);

private:
    struct Item
    {
        QLatin1String function;
        QString arguments; // as a script writes them
        bool inPieces = false;
        QList<QString> args; // of a call in pieces
        bool dropLineFeeds = false;
        // Where the pieces stand.
        quint64 transfer = 0;
        int arg = 0;
        qsizetype from = 0;
        qsizetype sent = 0;
    };

    // Sends script with the document check, if the page may receive it now.
    void run(const QString& script,
             const std::function<void(const QVariant&)>& result
             = std::function<void(const QVariant&)>());
    void send(QLatin1String function, const QString& script);
    // Notes, once per document, a push that found no page function.
    void noteResult(QLatin1String function, const QVariant& result);
    void scheduleFlush();
    static void flushDue();
    void flush();
    // The next piece (or, after the last, the call) of the long call in front.
    void sendPiece(Item& item);

    QPointer<QWebEnginePage> m_page;
    std::function<QString()> m_documentCheck;
    std::deque<Item> m_waiting;
    bool m_flushScheduled = false;
    QList<QLatin1String> m_absentNoted;
};

} // namespace TaviWebModuleInternal
