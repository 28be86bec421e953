#pragma once

// Internal to the module: a page's console in the host's log. Each message
// becomes one line of taviLogMgr(), "[PageConsole] <level> <page URL>: <text>
// (<source>:<line>)", control characters escaped, at most kLinesPerSecond a
// second per origin of the source (a frame of another origin has its own
// budget, so it cannot silence the page that holds it); the lines over that
// are dropped and counted, and one line says how many when the second is
// over. A page printing in a loop thus costs the host little.

#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
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
    // Sources beyond this many in one second share one budget.
    static constexpr int kSourcesPerSecond = 8;

    // A child of page.
    explicit PageConsole(QWebEnginePage* page);
    ~PageConsole() override;

    // The console of page, or null (also for a null page).
    static PageConsole* of(const QWebEnginePage* page);
    // Logs one message; false when it was dropped.
    bool log(QWebEnginePage::JavaScriptConsoleMessageLevel level, const QString& message,
             int lineNumber, const QString& sourceID);

private:
    void reportDropped();

    QWebEnginePage* m_pPage;
    struct Budget
    {
        int logged = 0;
        int dropped = 0;
    };
    QElapsedTimer m_window; // the current second
    QHash<QString, Budget> m_budgets; // by origin of the source
    QString m_strDroppedUrl;
    QString m_strDroppedOrigin;
    QTimer m_reportTimer;
};

} // namespace TaviWebModuleInternal
