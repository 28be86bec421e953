#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtNetwork/QTcpServer>

// A small HTTP server on 127.0.0.1 that serves files as downloads
// ("Content-Disposition: attachment"), so that a page can start a real
// download of a file the demo (or a test) provides.
class DownloadServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit DownloadServer(QObject* parent = nullptr);

    // Listens on a free port of 127.0.0.1; false when that fails.
    bool start();

    // Serves body at urlPath (e.g. "/files/report.pdf") and suggests
    // suggestedName, sent as it is, to the browser.
    void addFile(const QString& urlPath, const QByteArray& body, const QString& suggestedName);

    // The full URL of urlPath on this server.
    QUrl url(const QString& urlPath) const;

private:
    struct File
    {
        QByteArray body;
        QString suggestedName;
    };
    void onNewConnection();

    QHash<QString, File> m_files;
};
