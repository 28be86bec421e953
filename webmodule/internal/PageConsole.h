#pragma once

// Internal to the module: a page's console in the host's log. Each message
// becomes one line of taviLogMgr(), "[PageConsole] <level> <page URL>: <text>
// (<source>:<line>)", at most kLinesPerSecond a second per page; the lines
// over that are dropped and counted, and one line says how many when the
// second is over. A page printing in a loop thus costs the host little.

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtWebEngineCore/QWebEnginePage>

namespace TaviWebModuleInternal {

class PageConsole : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLinesPerSecond = 100;

    // A child of page.
    explicit PageConsole(QWebEnginePage* page);
    ~PageConsole() override;

    // The console of page, or null.
    static PageConsole* of(const QWebEnginePage* page);
    // Logs one message; false when it was dropped.
    bool log(QWebEnginePage::JavaScriptConsoleMessageLevel level, const QString& message,
             int lineNumber, const QString& sourceID);

private:
    void reportDropped();

    QWebEnginePage* m_pPage;
    QElapsedTimer m_window; // the current second
    int m_nLogged = 0;
    int m_nDropped = 0;
    QString m_strDroppedUrl;
    QTimer m_reportTimer;
};

} // namespace TaviWebModuleInternal
