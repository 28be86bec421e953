#pragma once

#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>
#include <QtWidgets/QMainWindow>
#include <atomic>
#include <memory>
#include <mutex>

class HostScenario;
class QJsonObject;
class QPlainTextEdit;
class RelaySimulation;
class QTabWidget;
class QUrl;
class TaviWebPage;
class QWebEngineLoadingInfo;
class QWebEngineView;

// The demo's host application: a main window with the page as a tab and a
// panel that shows the transcript as it grows: what the page printed, what
// the module logged, what the host received and did.
class DemoHost : public QMainWindow
{
    Q_OBJECT
public:
    struct Options
    {
        QUrl url;
        QString screenshotPath;
        QString transcriptPath;
        int quitAfterMs = 0; // 0: stay open
        bool quitWhenTourEnds = false;
        bool unattended = false; // headless or touring: a failed load ends the run
        int closeDialogsMs = 0; // 0: the host leaves dialogs to the user
        bool devTools = false;
        int remoteDebuggingPort = 0; // 0: off
        bool serve = false; // for automated browsers: ready line, control endpoint
        QStringList allowedOrigins; // web origins the served endpoints answer as well
        bool failOnPageError = false;
        // Where the page's persistent profile keeps its storage.
        QString profileFolder;
        bool watch = false; // reload when a file under the page's folder changes
        bool health = false; // each tab's health in the transcript
        // The simulated host's script; none: the random tour.
        std::shared_ptr<HostScenario> scenario;
    };

    // Exit codes besides 0 and 1 (outputs not written).
    static constexpr int kExitPageNotLoaded = 3;
    static constexpr int kExitPageError = 4;
    // The line a served run prints on standard output once the page has
    // loaded, followed by a JSON object.
    static constexpr const char* kReadyPrefix = "TAVI-READY ";
    // How often --health writes each tab's figures.
    static constexpr int kHealthEveryMs = 5000;

    explicit DemoHost(const Options& options);
    ~DemoHost() override;

    // One transcript line, from any thread.
    void record(const QString& source, const QString& text);
    // record() on the running host; nothing when there is none.
    static void note(const QString& text, const QString& source = QStringLiteral("host"));
    // Writes the screenshot and the transcript as asked; false on failure.
    bool writeOutputs();
    // The host window with the module's dialogs that are open, each where it is.
    QPixmap screenshot();

    static DemoHost* instance() { return s_instance; }
    // The page left an error uncaught (from any thread).
    static void notePageError();
    // Ends the run as a finished tour does: outputs written, exit 0 (or 4
    // after a page error, with failOnPageError).
    void stop() { finish(); }
    // Sets window.<name> to data in every page of the default profile, before
    // the page's own scripts run.
    static void publishToPages(const QString& name, const QJsonObject& data);

signals:
    void lineRecorded(const QString& line);

private:
    // Sets the module's access policy for the demo's own pages and folders.
    void lockDown(const QString& samples, const QString& exports, const QUrl& server);
    void onWebNotify(QString& msg, QString& sn);
    void onInfoCenterNotify(QString& message);
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void openDevTools();
    void checkRemoteDebugging();
    // A served run's DevTools, through the proxy; then the ready line.
    void serveDevTools(const QString& engineBase);
    // Host log lines other than the page console's own, which the
    // transcript has from Qt's log already.
    void forwardHostLog();
    void finish(int exitCode = 0);
    // The tabs that show a web page.
    QList<TaviWebPage*> webTabs() const;
    // --health: each tab's figures now and then, and when its page stops
    // answering and answers again.
    void watchHealth();
    // One line of the tab's figures after what happened.
    void recordHealth(TaviWebPage* tab, const QString& what);
    // The control endpoint of a served run.
    void startControl();
    // Prints the ready line, once.
    void announceReady(const QString& devTools, const QString& browserWebSocket);

    Options m_options;
    QTabWidget* m_pTabs = nullptr;
    TaviWebPage* m_pPage = nullptr;
    QPlainTextEdit* m_pHostLog = nullptr;
    QPointer<QWebEngineView> m_pDevTools;
    bool m_bFinished = false;
    int m_nHostLogLinesSeen = 0;
    std::unique_ptr<RelaySimulation> m_pRelay;
    std::shared_ptr<HostScenario> m_pScenario;
    class ControlServer* m_pControl = nullptr;
    class DevToolsProxy* m_pDevToolsProxy = nullptr;
    QByteArray m_secret; // of a served run
    bool m_bAnnounced = false;
    std::atomic<bool> m_bPageError { false };

    std::mutex m_mutex;
    QStringList m_transcript;

    static DemoHost* s_instance;
};
