#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtWidgets/QMainWindow>
#include <memory>
#include <mutex>

class QJsonObject;
class QPlainTextEdit;
class RelaySimulation;
class QTabWidget;
class QUrl;
class TaviWebPage;

// The demo's host application: a main window with the page as a tab and a
// panel that shows what the host received from the page.
class DemoHost : public QMainWindow
{
    Q_OBJECT
public:
    struct Options
    {
        QString url;
        QString screenshotPath;
        QString transcriptPath;
        int quitAfterMs = 0; // 0: stay open
        bool quitWhenTourEnds = false; // also: nobody answers the dialogs
    };

    explicit DemoHost(const Options& options);
    ~DemoHost() override;

    // One transcript line, from any thread.
    void record(const QString& source, const QString& text);
    // record() on the running host; nothing when there is none.
    static void note(const QString& text, const QString& source = QStringLiteral("host"));
    // Writes the screenshot and the transcript as asked; false on failure.
    bool writeOutputs();

    static DemoHost* instance() { return s_instance; }
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
    void finish();

    Options m_options;
    QTabWidget* m_pTabs = nullptr;
    TaviWebPage* m_pPage = nullptr;
    QPlainTextEdit* m_pHostLog = nullptr;
    bool m_bFinished = false;
    std::unique_ptr<RelaySimulation> m_pRelay;

    std::mutex m_mutex;
    QStringList m_transcript;

    static DemoHost* s_instance;
};
