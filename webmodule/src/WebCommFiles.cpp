// CWebComm: file browse, copy, delete, the download folder and snapshots.
// Copies, deletions and snapshots run on a thread of their own while the GUI
// thread serves its events (see runOffThread); the call returns when they
// are done. The bridge may be destroyed meanwhile, with its page: after the
// work, nothing of it is touched unless it is still there.

#include "BridgeAccess.h"
#include "FileCopy.h"
#include "FileWriter.h"
#include "HostNotice.h"
#include "Logging.h"
#include "OffThread.h"
#include "PageCommands.h"
#include "WebComm.h"
#include "WebPage.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

using namespace TaviWebModuleInternal;

namespace {

// Where a browse dialog opens when the page gives no path.
QString startFolder(const QString& originalPath)
{
    return originalPath.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : originalPath;
}

// The snapshot's file, from the page's image text; 0 when written, -1 when
// not (nothing is written then), with the lines the call always wrote.
int saveSnapshot(const QString& base64, QString filePath, const std::atomic<bool>& stop)
{
    qDebug() << "filePath:" << filePath;
    filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));

    const std::optional<QByteArray> image = snapshotImageData(base64);
    if (!image) {
        // Read word for word by hosts: "the data lacks the 'base64,' prefix".
        qWarning() << "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath="
                   << filePath << ")";
        return -1;
    }

    const QString folder = filePath.section(QLatin1Char('/'), 0, -2);
    qDebug() << "filePath:" << filePath << "path" << folder;
    if (folder.isEmpty())
        return -1;
    // An empty file reported as a snapshot would hide a capture that failed.
    if (image->isEmpty()) {
        qCDebug(lcWebModule) << "AfterSnapshot: no image data after the marker, nothing written:"
                             << filePath;
        return -1;
    }
    if (!withinPathLimits(filePath)) {
        qCDebug(lcWebModule) << "AfterSnapshot: path beyond the system's limits refused, length"
                             << filePath.size();
        return -1;
    }
    if (!mayWritePath("AfterSnapshot", filePath))
        return -1;
    // A relative folder may exist without MakePath being able to say so; the
    // open below is the real test.
    MakePath(folder);

    ReplacingFile file(filePath);
    if (!file.open() || file.file().write(*image) != image->size() || stop || !file.commit()) {
        qCDebug(lcWebModule) << "Failed to write the snapshot:" << filePath
                             << (stop ? QStringLiteral("its page is gone") : file.errorString());
        return -1;
    }
    return 0;
}

} // namespace

QString CWebComm::BrowseFilePath(QString originalPath)
{
    if (!bridgeCallAllowed(this, "BrowseFilePath")
        || (!originalPath.isEmpty() && !mayReadPath("BrowseFilePath", originalPath)))
        return QString();
    QWidget parent; // the dialog's parent, never shown
    const QString chosen = QFileDialog::getExistingDirectory(
        &parent, QString(), startFolder(originalPath), QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? originalPath : chosen;
}

QString CWebComm::BrowseFile(QString originalPath)
{
    if (!bridgeCallAllowed(this, "BrowseFile")
        || (!originalPath.isEmpty() && !mayReadPath("BrowseFile", originalPath)))
        return QString();
    QWidget parent; // the dialog's parent, never shown
    const QString chosen
        = QFileDialog::getOpenFileName(&parent, QString(), startFolder(originalPath),
                                       QStringLiteral("Audio Files (*.mp3 *.wav);;All Files (*)"));
    return chosen.isEmpty() ? originalPath : chosen;
}

void CWebComm::CopyFileFunc(QString command)
{
    if (!bridgeCallAllowed(this, "CopyFileFunc"))
        return;
    qDebug() << "CopyFileFunc command" << command;
    QJsonArray orders;
    if (!commandArray(command, orders))
        return;
    for (const QJsonValue& order : std::as_const(orders)) {
        if (!order.isObject())
            continue;
        const QJsonObject o = order.toObject();
        const QString source = o.value(QStringLiteral("sourceFile")).toString();
        const QString target = o.value(QStringLiteral("targetFile")).toString();
        if (!mayReadPath("CopyFileFunc", source) || !mayWritePath("CopyFileFunc", target))
            continue;
        bool copied = false;
        const bool bridgeAlive = runOffThread(
            this, [&](const std::atomic<bool>& stop) { copied = copyFile(source, target, &stop); });
        if (copied)
            sendShowTip(target, target);
        // Gone with its page: the orders left are not for anyone any more.
        if (!bridgeAlive)
            return;
    }
}

bool CWebComm::CopyFileProcess(const QString& source, const QString& target)
{
    return copyFile(source, target);
}

void CWebComm::DelFileFunc(QString command)
{
    if (!bridgeCallAllowed(this, "DelFileFunc"))
        return;
    runOffThread(this, [&command](const std::atomic<bool>& stop) {
        QJsonArray paths;
        if (!commandArray(command, paths))
            return;
        for (const QJsonValue& value : std::as_const(paths)) {
            if (stop)
                return;
            if (!value.isString())
                continue;
            // A link to a file is removed itself; what it points to stays.
            const QString path = value.toString();
            if (withinPathLimits(path) && mayWritePath("DelFileFunc", path)
                && QFileInfo(path).isFile())
                QFile::remove(path);
        }
    });
}

void CWebComm::SetDownloadPath(QString filePath)
{
    if (!bridgeCallAllowed(this, "SetDownloadPath")
        || (!filePath.isEmpty() && !mayWritePath("SetDownloadPath", filePath)))
        return;
    CWebPage::m_strDownloadPath = filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

int CWebComm::AfterSnapshot(QString base64, QString channelId, int time, QString filePath)
{
    if (!bridgeCallAllowed(this, "AfterSnapshot"))
        return -1;
    int result = -1;
    runOffThread(this, [&](const std::atomic<bool>& stop) {
        result = saveSnapshot(base64, filePath, stop);
    });
    if (result != 0)
        return result;
    sendHostNotice(QStringLiteral("afterSnapshot"),
                   QJsonObject { { QStringLiteral("filePath"),
                                   filePath.replace(QLatin1Char('\\'), QLatin1Char('/')) },
                                 { QStringLiteral("channelId"), channelId },
                                 { QStringLiteral("time"), time } });
    return 0;
}
