#include "FileCopy.h"

#include "FileWriter.h"
#include "Logging.h"

#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <sys/stat.h>

namespace TaviWebModuleInternal {

namespace {

// Bounded steps of the copy's own loop: memory stays flat whatever the size.
constexpr qint64 kCopyChunk = 1024 * 1024;

// A new copy gets the source's permission bits, less the umask, as with cp.
mode_t copyMode(const QString& source)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(source).constData(), &st) != 0)
        return 0666 & ~processUmask();
    return st.st_mode & 0777 & ~processUmask();
}

bool stopped(const std::atomic<bool>* stop, const QString& target)
{
    if (!stop || !*stop)
        return false;
    qCDebug(lcWebModule) << "Copy stopped, its page is gone:" << target;
    return true;
}

} // namespace

bool copyFile(const QString& source, const QString& target, const std::atomic<bool>* stop,
              const CopyProgress& progress)
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
    if (stopped(stop, target))
        return false;
    ReplacingFile out(target);
    if (!out.open()) {
        qDebug() << "Failed to open files for copying.";
        qCDebug(lcWebModule) << "Cannot write the target:" << target << out.errorString();
        return false;
    }
    out.setNewFileMode(copyMode(source));

    const qint64 expected = in.size();
    qint64 copied = kernelCopy(in, out.file(), stop, progress);
    QByteArray buffer(int(kCopyChunk), Qt::Uninitialized);
    for (;;) {
        if (stopped(stop, target))
            return false;
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
        if (progress)
            progress(copied, expected);
    }
    // A source that ended early (cut while being read) is not a copy.
    if (copied < expected) {
        qCDebug(lcWebModule) << "The source ended early, not copied:" << source << "read" << copied
                             << "of" << expected << "bytes";
        return false;
    }
    if (stopped(stop, target))
        return false;
    if (!out.commit()) {
        qCDebug(lcWebModule) << "Failed to write the copy:" << target << out.errorString();
        return false;
    }
    return true;
}

} // namespace TaviWebModuleInternal
