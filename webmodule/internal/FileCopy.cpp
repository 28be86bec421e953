#include "FileCopy.h"

#include "FileWriter.h"
#include "HostLines.h"
#include "Logging.h"
#include "SideObject.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <sys/stat.h>

namespace TaviWebModuleInternal {

namespace {

// Bounded steps of the copy's own loop: memory stays flat whatever the size.
constexpr qint64 kCopyChunk = 1024 * 1024;

// A new copy gets the source's permission bits, less the umask, as with cp.
mode_t copyMode(const struct stat& source)
{
    return source.st_mode & 0777 & ~processUmask();
}

bool stopped(const std::atomic<bool>* stop, const QString& target)
{
    if (!stop || !*stop)
        return false;
    qCDebug(lcWebModule) << "Copy stopped, its page is gone:" << target;
    return true;
}

void logSourceMissing(const QString& source)
{
    HostLine::debug() << "Source file does not exist: " << source;
}

void logCannotOpen()
{
    HostLine::debug() << "Failed to open files for copying.";
}

// which: "source" or "target".
void pathTooLong(const char* which)
{
    qCDebug(lcWebModule).noquote()
        << "CopyFileProcess: path beyond the system's limits refused: the" << which;
}

} // namespace

void logRefusedCopy(const QString& source)
{
    // The system cannot name such a source: it is not there.
    if (source.isEmpty() || source.contains(QChar(u'\0')) || !QFileInfo::exists(source))
        logSourceMissing(source);
    else
        logCannotOpen();
}

bool copyFile(const QString& source, const QString& target, const FileRoots& roots,
              const std::atomic<bool>* stop, const CopyProgress& progress)
{
    // No file has a name beyond the system's limits.
    if (!withinPathLimits(source)) {
        logSourceMissing(source);
        pathTooLong("source");
        return false;
    }
    // Folders, devices and pipes are no files to copy (a device may never
    // end): only a regular file is opened.
    struct stat sourceStat = {};
    Fd sourceFd(openRegularForReading(source, roots, &sourceStat));
    if (!sourceFd.valid()) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            logSourceMissing(source);
        } else if (error == EINVAL) {
            logCannotOpen();
            qCDebug(lcWebModule) << "Not a regular file, not copied:" << source;
        } else {
            logCannotOpen();
            qCDebug(lcWebModule) << "Cannot open the source:" << source << rootedErrorText(error);
        }
        return false;
    }
    // A target that cannot be named cannot be opened.
    if (!withinPathLimits(target)) {
        logCannotOpen();
        pathTooLong("target");
        return false;
    }
    // Writing onto the source itself would destroy it; refused before any
    // folder is created or any byte is written.
    RootedName place = rootedName(target, roots, RootAccess::Write, false, true);
    struct stat targetStat = {};
    if (place.valid() && ::fstatat(place.dir.get(), place.name.constData(), &targetStat, 0) == 0
        && targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino) {
        qCDebug(lcWebModule) << "Refusing to copy a file onto itself:" << source << "->" << target;
        return false;
    }
    if (!place.valid() && place.error == ENOENT) {
        // Without roots the folder chain is made by name, as before; inside
        // a root, folder by folder beneath it.
        if (!roots.restricted) {
            const QString folder = QFileInfo(target).path();
            if (!QDir(folder).exists())
                QDir(folder).mkpath(folder);
        }
        place = rootedName(target, roots, RootAccess::Write, roots.restricted, true);
    }

    QFile in;
    if (!in.open(sourceFd.get(), QIODevice::ReadOnly | QIODevice::Unbuffered,
                 QFileDevice::AutoCloseHandle)) {
        logCannotOpen();
        qCDebug(lcWebModule) << "Cannot open the source:" << source << in.errorString();
        return false;
    }
    sourceFd.release();
    if (stopped(stop, target))
        return false;
    ReplacingFile out(std::move(place));
    if (!out.open()) {
        logCannotOpen();
        qCDebug(lcWebModule) << "Cannot write the target:" << target << out.errorString();
        return false;
    }
    out.setNewFileMode(copyMode(sourceStat));

    const qint64 expected = in.size();
    // Each report says more than the one before; the last one once all is written.
    qint64 reported = -1;
    const CopyProgress told = [&progress, &reported](qint64 done, qint64 total) {
        if (progress && done > reported) {
            reported = done;
            progress(done, total);
        }
    };
    qint64 copied = kernelCopy(in, out.file(), stop, told);
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
        told(copied, expected);
    }
    // A source that ended early (cut while being read) is not a copy.
    if (copied < expected) {
        qCDebug(lcWebModule) << "The source ended early, not copied:" << source << "read" << copied
                             << "of" << expected << "bytes";
        return false;
    }
    // Every byte is there; the sync that follows may take a while.
    told(copied, expected);
    if (stopped(stop, target))
        return false;
    if (!out.commit()) {
        qCDebug(lcWebModule) << "Failed to write the copy:" << target << out.errorString();
        return false;
    }
    return true;
}

CopyProgressInterval::CopyProgressInterval(QObject* bridge)
    : QObject(bridge)
{}

int CopyProgressInterval::of(const QObject* bridge)
{
    const CopyProgressInterval* interval = sideObject<CopyProgressInterval>(bridge);
    return interval ? interval->m_ms : kDefaultMs;
}

void CopyProgressInterval::set(QObject* bridge, int ms)
{
    if (!bridge)
        return;
    CopyProgressInterval* interval = sideObject<CopyProgressInterval>(bridge);
    if (!interval)
        interval = new CopyProgressInterval(bridge);
    interval->m_ms = ms < 0 ? kDefaultMs : ms;
}

} // namespace TaviWebModuleInternal
