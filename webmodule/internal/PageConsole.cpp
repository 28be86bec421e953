#include "PageConsole.h"

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
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    for (const QChar c : { QChar(u'\n'), QChar(u'\r'), QChar(0x2028), QChar(0x2029) })
        text.replace(c, QLatin1String("\\n"));
    return text;
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
    return page->findChild<PageConsole*>(QString(), Qt::FindDirectChildrenOnly);
}

bool PageConsole::log(QWebEnginePage::JavaScriptConsoleMessageLevel level, const QString& message,
                      int lineNumber, const QString& sourceID)
{
    if (!m_window.isValid() || m_window.elapsed() >= 1000) {
        reportDropped();
        m_window.start();
        m_nLogged = 0;
    }
    if (m_nLogged >= kLinesPerSecond) {
        if (m_nDropped++ == 0) {
            m_strDroppedUrl = pageUrl(m_pPage);
            m_reportTimer.start(int(qMax<qint64>(0, 1000 - m_window.elapsed())));
        }
        return false;
    }
    ++m_nLogged;
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
    if (m_nDropped == 0)
        return;
    taviLogMgr()->logDebug(
        QStringLiteral("[PageConsole] %1: %2 console lines dropped (at most %3 a second)")
            .arg(m_strDroppedUrl, QString::number(m_nDropped), QString::number(kLinesPerSecond)));
    m_nDropped = 0;
}

} // namespace TaviWebModuleInternal
