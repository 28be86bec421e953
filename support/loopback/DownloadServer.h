#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtNetwork/QTcpServer>
#include <memory>

class QSslConfiguration;

// A small HTTP server on 127.0.0.1 that serves files as downloads
// ("Content-Disposition: attachment"), so that a page can start a real
// download of a file the demo (or a test) provides; also pages and
// redirects, over HTTPS once given a certificate.
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

    // Serves html as a page at urlPath.
    void addPage(const QString& urlPath, const QByteArray& html);
    // Answers urlPath with a redirect (302) to target.
    void addRedirect(const QString& urlPath, const QUrl& target);
    // Serves HTTPS with this certificate and key from the next connection on.
    void setTls(const QSslConfiguration& tls);

    // The full URL of urlPath on this server.
    QUrl url(const QString& urlPath) const;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct File
    {
        QByteArray body;
        QString suggestedName; // empty: a page
        QUrl redirect;
    };
    void onNewConnection();

    QHash<QString, File> m_files;
    std::shared_ptr<QSslConfiguration> m_tls;
};
