#include "DownloadSync.h"

#include "DurableSync.h"
#include "Logging.h"
#include "WarningBudget.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QThread>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <memory>

namespace TaviWebModuleInternal {

bool makeDownloadFolder(const QString& folder, QStringList* created)
{
    QStringList missing;
    for (QString f = QDir::cleanPath(folder); !QFileInfo(f).isDir(); f = QFileInfo(f).path()) {
        missing.prepend(f);
        if (f == QFileInfo(f).path()) // the root, or a relative folder's first name
            break;
    }
    if (!QDir().mkpath(folder))
        return false;
    created->clear();
    for (const QString& f : missing)
        if (QFileInfo(f).isDir())
            *created << f;
    return true;
}

namespace {

// The file's data, then every entry that leads to it; false with the reason
// in error at the first sync the disk refuses.
bool syncDownload(const QString& path, const QStringList& created, QString* error)
{
    if (!syncFile(path, error) || !syncDirectory(QFileInfo(path).absolutePath(), error))
        return false;
    for (auto f = created.crbegin(); f != created.crend(); ++f)
        if (!syncDirectory(QFileInfo(*f).absolutePath(), error))
            return false;
    return true;
}

void syncCompleted(const QString& path, const QStringList& created,
                   const std::function<void()>& done)
{
    struct Result
    {
        bool ok = false;
        QString error;
    };
    const auto result = std::make_shared<Result>();
    QThread* thread = QThread::create(
        [path, created, result] { result->ok = syncDownload(path, created, &result->error); });
    // Queued to the GUI thread, where the thread object lives.
    QObject::connect(thread, &QThread::finished, thread, [thread, path, result, done] {
        if (result->ok)
            qCDebug(lcWebModule) << "Download saved:" << path;
        else if (mayWarn(nullptr, QStringLiteral("download syncs")))
            qCWarning(lcWebModule) << "Failed to sync the download:" << path << result->error;
        done();
        thread->deleteLater();
    });
    thread->start();
}

} // namespace

void syncWhenEnded(QWebEngineDownloadRequest* download, const QString& path,
                   const QStringList& created, std::function<void()> done)
{
    const auto ended = [download, path, created, done] {
        if (!download->isFinished())
            return;
        if (download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
            syncCompleted(path, created, done);
            return;
        }
        if (download->state() == QWebEngineDownloadRequest::DownloadInterrupted)
            qCDebug(lcWebModule) << "Download interrupted:" << path
                                 << download->interruptReasonString();
        done();
    };
    QObject::connect(download, &QWebEngineDownloadRequest::isFinishedChanged, download, ended);
}

} // namespace TaviWebModuleInternal
