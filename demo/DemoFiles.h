#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QUrl>

class DownloadServer;
class QTimer;

// Host side of the demo's "Files" section: a scratch folder with a sound file
// to pick, a local server whose files the page downloads, and both made known
// to the page as window.demoFiles. In unattended runs it also answers the
// file dialogs that the page opens, as a user would.
class DemoFiles : public QObject
{
    Q_OBJECT
public:
    // Create before the page loads.
    explicit DemoFiles(QObject* parent, bool answerDialogs);
    // The scratch folder goes with the run.
    ~DemoFiles() override;

    // The scratch folder the page writes into.
    QString folder() const { return m_strFolder; }
    // An address of the download server.
    QUrl serverUrl() const;

private:
    // Answers the file dialog that is open, as a user would.
    void onDialogWatchTimeout();

    QString m_strFolder;
    DownloadServer* m_pServer = nullptr;
    QTimer* m_pDialogWatch = nullptr;
};
