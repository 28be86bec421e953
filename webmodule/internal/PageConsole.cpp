#include "PageConsole.h"

#include "LogText.h"
#include "SideObject.h"
#include "WebAccessPolicy.h"

#include <TaviLogic.h>

namespace TaviWebModuleInternal {

namespace {

// Enough for any message meant to be read; a megabyte dump is cut.
constexpr int kMaxTextLength = 4000;

QString levelName(QWebEnginePage::JavaScriptConsoleMessageLevel level)
{
    switch (level) {
    case QWebEnginePage::InfoMessageLevel:
        return QStringLiteral("info");
    case QWebEnginePage::WarningMessageLevel:
        return QStringLiteral("warning");
    case QWebEnginePage::ErrorMessageLevel:
        return QStringLiteral("error");
    }
    return QStringLiteral("info");
}

// One message, one log line: a page must not write lines that look like the
// host's own.
QString oneLine(QString text)
{
    if (text.size() > kMaxTextLength)
        text = text.left(kMaxTextLength)
            + QStringLiteral("… (%1 more characters)").arg(text.size() - kMaxTextLength);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return escapeForLog(text);
}

// Whose budget a message takes: the origin of the script that wrote it.
QString sourceOrigin(const QString& sourceID)
{
    QUrl url(sourceID);
    if (url.scheme() == QLatin1String("blob"))
        url = QUrl(url.path());
    return sourceID.isEmpty() ? QString() : WebAccessPolicy::originOf(url);
}

QString pageUrl(const QWebEnginePage* page)
{
    return oneLine(page->url().toDisplayString(QUrl::RemovePassword));
}

} // namespace

PageConsole::PageConsole(QWebEnginePage* page)
    : QObject(page)
    , m_pPage(page)
{
    m_reportTimer.setSingleShot(true);
    connect(&m_reportTimer, &QTimer::timeout, this, &PageConsole::reportDropped);
}

PageConsole::~PageConsole()
{
    reportDropped();
}

PageConsole* PageConsole::of(const QWebEnginePage* page)
{
    return sideObject<PageConsole>(page);
}

bool PageConsole::log(QWebEnginePage::JavaScriptConsoleMessageLevel level, const QString& message,
                      int lineNumber, const QString& sourceID)
{
    if (!m_window.isValid() || m_window.elapsed() >= 1000) {
        reportDropped();
        m_window.start();
        m_budgets.clear();
    }
    QString source = sourceOrigin(sourceID);
    if (!m_budgets.contains(source) && m_budgets.size() >= kSourcesPerSecond)
        source = QStringLiteral("other sources");
    Budget& budget = m_budgets[source];
    if (budget.logged >= kLinesPerSecond) {
        if (budget.dropped++ == 0 && !m_reportTimer.isActive()) {
            m_strDroppedUrl = pageUrl(m_pPage);
            m_strDroppedOrigin = WebAccessPolicy::originOf(m_pPage->url());
            m_reportTimer.start(int(qMax<qint64>(0, 1000 - m_window.elapsed())));
        }
        return false;
    }
    ++budget.logged;
    QString line = QStringLiteral("[PageConsole] %1 %2: %3")
                       .arg(levelName(level), pageUrl(m_pPage), oneLine(message));
    if (!sourceID.isEmpty())
        line += QStringLiteral(" (%1:%2)").arg(oneLine(sourceID), QString::number(lineNumber));
    taviLogMgr()->logDebug(line);
    return true;
}

void PageConsole::reportDropped()
{
    m_reportTimer.stop();
    for (auto it = m_budgets.begin(); it != m_budgets.end(); ++it) {
        if (it->dropped == 0)
            continue;
        // The page's own lines as they always were counted; another
        // source's named.
        const QString of = it.key() == m_strDroppedOrigin ? QString()
            : it.key().isEmpty()                          ? QStringLiteral(" of unknown sources")
                                 : QStringLiteral(" of ") + oneLine(it.key());
        taviLogMgr()->logDebug(
            QStringLiteral("[PageConsole] %1: %2 console lines%3 dropped (at most %4 a second)")
                .arg(m_strDroppedUrl, QString::number(it->dropped), of,
                     QString::number(kLinesPerSecond)));
        it->dropped = 0;
    }
}

} // namespace TaviWebModuleInternal
