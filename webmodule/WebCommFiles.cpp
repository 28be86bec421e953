// CWebComm: file browse, copy, delete, the download folder and snapshots.

#include "BridgeAccess.h"
#include "FileWriter.h"
#include "HostNotice.h"
#include "Logging.h"
#include "WebComm.h"
#include "WebPage.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>
#include <sys/stat.h>

using namespace TaviWebModuleInternal;

namespace {

// Bounded steps of the copy's own loop: memory stays flat whatever the size.
constexpr qint64 kCopyChunk = 1024 * 1024;

// The array of a page's JSON command; a document holding an object gives an
// empty array. False, after the warning, when the text is no JSON at all.
bool commandArray(const QString& command, QJsonArray& array)
{
    const QJsonDocument doc = QJsonDocument::fromJson(command.toUtf8());
    if (doc.isNull()) {
        qWarning() << "Invalid JSON string";
        return false;
    }
    array = doc.array();
    return true;
}

// Where a browse dialog opens when the page gives no path.
QString startFolder(const QString& originalPath)
{
    return originalPath.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : originalPath;
}

// A new copy gets the source's permission bits, less the umask, as with cp.
mode_t copyMode(const QString& source)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(source).constData(), &st) != 0)
        return 0666 & ~processUmask();
    return st.st_mode & 0777 & ~processUmask();
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
    for (const QJsonValue& order : orders) {
        if (!order.isObject())
            continue;
        const QJsonObject o = order.toObject();
        const QString source = o.value(QStringLiteral("sourceFile")).toString();
        const QString target = o.value(QStringLiteral("targetFile")).toString();
        if (!mayReadPath("CopyFileFunc", source) || !mayWritePath("CopyFileFunc", target))
            continue;
        if (CopyFileProcess(source, target))
            sendShowTip(target, target);
    }
}

bool CWebComm::CopyFileProcess(const QString& source, const QString& target)
{
    if (!withinPathLimits(source) || !withinPathLimits(target)) {
        qCDebug(lcWebModule) << "CopyFileProcess: path beyond the system's limits refused, lengths"
                             << source.size() << target.size();
        return false;
    }
    if (!QFile::exists(source)) {
        qDebug() << "Source file does not exist: " << source;
        return false;
    }
    // Folders, devices and pipes are no files to copy (a device may never end).
    if (!QFileInfo(source).isFile()) {
        qCDebug(lcWebModule) << "Not a regular file, not copied:" << source;
        return false;
    }
    // Writing onto the source itself would destroy it; refused before any
    // folder is created or any byte is written.
    if (isSameFile(source, target)) {
        qCDebug(lcWebModule) << "Refusing to copy a file onto itself:" << source << "->" << target;
        return false;
    }

    const QString folder = QFileInfo(target).path();
    if (!QDir(folder).exists())
        QDir(folder).mkpath(folder);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qDebug() << "Failed to open files for copying.";
        qCDebug(lcWebModule) << "Cannot open the source:" << source << in.errorString();
        return false;
    }
    ReplacingFile out(target);
    if (!out.open()) {
        qDebug() << "Failed to open files for copying.";
        qCDebug(lcWebModule) << "Cannot write the target:" << target << out.errorString();
        return false;
    }
    out.setNewFileMode(copyMode(source));

    const qint64 expected = in.size();
    qint64 copied = kernelCopy(in, out.file());
    QByteArray buffer(int(kCopyChunk), Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(buffer.data(), kCopyChunk);
        if (got < 0) {
            qCDebug(lcWebModule) << "Failed to read the source:" << source << in.errorString();
            return false;
        }
        if (got == 0)
            break;
        if (out.file().write(buffer.constData(), got) != got) {
            qCDebug(lcWebModule) << "Failed to write the copy:" << target << out.errorString();
            return false;
        }
        copied += got;
    }
    // A source that ended early (cut while being read) is not a copy.
    if (copied < expected) {
        qCDebug(lcWebModule) << "The source ended early, not copied:" << source << "read" << copied
                             << "of" << expected << "bytes";
        return false;
    }
    if (!out.commit()) {
        qCDebug(lcWebModule) << "Failed to write the copy:" << target << out.errorString();
        return false;
    }
    return true;
}

void CWebComm::DelFileFunc(QString command)
{
    if (!bridgeCallAllowed(this, "DelFileFunc"))
        return;
    QJsonArray paths;
    if (!commandArray(command, paths))
        return;
    for (const QJsonValue& value : paths) {
        if (!value.isString())
            continue;
        // A link to a file is removed itself; what it points to stays.
        const QString path = value.toString();
        if (withinPathLimits(path) && mayWritePath("DelFileFunc", path) && QFileInfo(path).isFile())
            QFile::remove(path);
    }
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
    qDebug() << "filePath:" << filePath;
    filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));

    const QLatin1String marker("base64,");
    const qsizetype at = base64.indexOf(marker);
    if (at < 0) {
        // Read word for word by hosts: "the data lacks the 'base64,' prefix".
        qWarning() << "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath="
                   << filePath << ")";
        return -1;
    }
    QStringView payload = QStringView(base64).mid(at + marker.size());
    const qsizetype nul = payload.indexOf(QChar(u'\0'));
    if (nul >= 0)
        payload.truncate(nul);
    // Only the base64 alphabet counts; whatever else the text holds is
    // skipped by the decoder in any 8-bit form, so the cheap one will do.
    const QByteArray image = QByteArray::fromBase64(payload.toLatin1());

    const QString folder = filePath.section(QLatin1Char('/'), 0, -2);
    qDebug() << "filePath:" << filePath << "path" << folder;
    if (folder.isEmpty())
        return -1;
    // An empty file reported as a snapshot would hide a capture that failed.
    if (image.isEmpty()) {
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
    if (!file.open() || file.file().write(image) != image.size() || !file.commit()) {
        qCDebug(lcWebModule) << "Failed to write the snapshot:" << filePath << file.errorString();
        return -1;
    }

    sendHostNotice(QStringLiteral("afterSnapshot"),
                   QJsonObject { { QStringLiteral("filePath"), filePath },
                                 { QStringLiteral("channelId"), channelId },
                                 { QStringLiteral("time"), time } });
    return 0;
}
