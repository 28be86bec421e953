#include "WebPage.h"

#include "BridgeReady.h"
#include "FileWriter.h"
#include "HostNotice.h"
#include "Logging.h"
#include "PageConsole.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

QString CWebPage::m_strDownloadPath = QString();

namespace {

// The server's suggestion as a plain file name: no folder part can lead the
// download out of the chosen folder.
QString plainFileName(const QString& suggested)
{
    QString name = suggested;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("download");
    return name;
}

} // namespace

CWebPage::CWebPage(QObject* parent)
    : QWebEnginePage(parent)
{
    // The profile's signal reaches this slot through the meta-object too.
    qRegisterMetaType<QWebEngineDownloadRequest*>("QWebEngineDownloadRequest*");
    new TaviWebModuleInternal::PageConsole(this);
}

CWebPage::~CWebPage() = default;

void CWebPage::SetDownloadPath(const QString& path)
{
    // The bridge and hosts write the member directly on the GUI thread; so
    // every other writer goes there too.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        m_strDownloadPath = path;
        return;
    }
    const auto write = [path] { m_strDownloadPath = path; };
    QMetaObject::invokeMethod(app, write, Qt::AutoConnection);
}

void CWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                        int lineNumber, const QString& sourceID)
{
    if (TaviWebModuleInternal::BridgeReadyProbe* probe
        = TaviWebModuleInternal::BridgeReadyProbe::of(this);
        probe && probe->take(message))
        return;
    // Over the console's rate a line goes nowhere, Qt's log included.
    if (TaviWebModuleInternal::PageConsole* console = TaviWebModuleInternal::PageConsole::of(this);
        console && !console->log(level, message, lineNumber, sourceID))
        return;
    QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
}

void CWebPage::DownloadRequested(QWebEngineDownloadRequest* download)
{
    // Every page sees every request of the shared profile; the first one
    // that finds it still open handles it.
    if (!download || download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    qDebug() << "Download requested:" << download->url().toString();

    // The dialog's event loop runs everything else meanwhile, even the end
    // of the request.
    const QPointer<QWebEngineDownloadRequest> request(download);
    QWidget dialogParent; // never shown
    // The suffix of the host's tip comes from the name the server suggested.
    const QString suggested = download->downloadFileName();
    const QString name = plainFileName(suggested);
    QString path;
    if (!m_strDownloadPath.isEmpty()) {
        path = m_strDownloadPath + QLatin1Char('/') + name;
    } else {
        path = QFileDialog::getSaveFileName(&dialogParent, QString(),
                                            QDir::homePath() + QLatin1Char('/') + name);
    }

    if (!request || download->state() != QWebEngineDownloadRequest::DownloadRequested) {
        qDebug() << "Download request rejected. Error: ";
        return;
    }
    if (path.isEmpty()) {
        // The user closed the save dialog: nothing is saved, so no tip.
        qCDebug(lcWebModule) << "Download cancelled: no file chosen for"
                             << download->url().toString();
        download->cancel();
        return;
    }
    // A folder that cannot hold the file would end the download cancelled
    // after the host had been told of it.
    const QString folder = QFileInfo(path).absolutePath();
    if (!TaviWebModuleInternal::withinPathLimits(path) || !QDir().mkpath(folder)
        || !QFileInfo(folder).isWritable()) {
        qCDebug(lcWebModule) << "Download refused: the folder cannot be written:" << folder;
        download->cancel();
        return;
    }
    download->setDownloadFileName(path);

    qDebug() << "Download accepted. Starting download...";
    download->accept();
    TaviWebModuleInternal::sendShowTip(path, suggested);
}
