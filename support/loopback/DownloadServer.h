#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtNetwork/QTcpServer>
#include <memory>

class QSslConfiguration;
class QTcpSocket;

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

    // Serves html as a page at urlPath; headers ("Name: value" lines, each
    // ending in "\r\n") go into the response head as they are.
    void addPage(const QString& urlPath, const QByteArray& html, const QByteArray& headers = {});
    // Answers urlPath with a redirect (302) to target.
    void addRedirect(const QString& urlPath, const QUrl& target);
    // Serves HTTPS with this certificate and key from the next connection on.
    void setTls(const QSslConfiguration& tls);

    // Requests for urlPath get no answer until release(urlPath): a response
    // as late as a test needs it. held() tells that one has come.
    void hold(const QString& urlPath);
    // Answers every held request for urlPath, and later ones at once.
    void release(const QString& urlPath);
    // Answers the oldest held request for urlPath alone, holding later ones;
    // false when none waits.
    bool releaseOne(const QString& urlPath);

    // The full URL of urlPath on this server.
    QUrl url(const QString& urlPath) const;

Q_SIGNALS:
    void held(const QString& urlPath);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct File
    {
        QByteArray body;
        QString suggestedName; // empty: a page
        QUrl redirect;
        QByteArray headers;
    };
    void onNewConnection();
    QByteArray response(const QString& path, bool known) const;

    QSet<QString> m_held;
    QMultiHash<QString, QPointer<QTcpSocket>> m_waiting;
    QHash<QString, File> m_files;
    std::shared_ptr<QSslConfiguration> m_tls;
};
