#include "FileWriter.h"

#include "DurableSync.h"

#include <QtCore/QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace TaviWebModuleInternal {

namespace {

// Bounded steps, so that a huge file never holds the kernel in one call and
// a stop takes effect soon, even on slow media.
constexpr size_t kKernelCopyChunk = 16 * 1024 * 1024;

QString resolvedTarget(const QString& target)
{
    const QFileInfo info(target);
    if (!info.isSymLink())
        return target;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

} // namespace

ReplacingFile::ReplacingFile(const QString& target)
    : m_final(resolvedTarget(target))
    , m_temp(QFileInfo(m_final).path() + QStringLiteral("/.tavi-XXXXXX"))
    , m_newMode(kDefaultMode)
{}

bool ReplacingFile::open()
{
    if (m_final.isEmpty()) {
        m_error = QStringLiteral("no target path");
        return false;
    }
    // Replacing a device, a pipe or a socket by a regular file would break
    // whatever uses it; only a regular file or nothing may stand there.
    struct stat st = {};
    if (::stat(QFile::encodeName(m_final).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        m_error = S_ISDIR(st.st_mode) ? QStringLiteral("the target is a folder")
                                      : QStringLiteral("the target is not a regular file");
        return false;
    }
    return m_temp.open();
}

bool ReplacingFile::commit()
{
    struct stat st = {};
    const mode_t mode = ::stat(QFile::encodeName(m_final).constData(), &st) == 0
        ? (st.st_mode & 07777)
        : (m_newMode == kDefaultMode ? (0666 & ~processUmask()) : m_newMode);
    if (!m_temp.flush())
        return false;
    // The temporary file is private (0600) until now.
    if (::fchmod(m_temp.handle(), mode) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    // Written means on the disk: the data before it takes the target's name.
    if (!syncFile(m_temp.handle(), &m_error))
        return false;
    m_temp.close();
    if (m_temp.error() != QFileDevice::NoError)
        return false;
    if (::rename(QFile::encodeName(m_temp.fileName()).constData(),
                 QFile::encodeName(m_final).constData())
        != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_temp.setAutoRemove(false);
    // ... and the new name in its folder after it.
    return syncDirectory(QFileInfo(m_final).path(), &m_error);
}

QString ReplacingFile::errorString() const
{
    return m_error.isEmpty() ? m_temp.errorString() : m_error;
}

qint64 kernelCopy(QFile& in, QFile& out, const std::atomic<bool>* stop)
{
    // Only the data is copied: holes of a sparse file stay holes, as with cp.
    const int from = in.handle();
    const int to = out.handle();
    const off_t size = ::lseek(from, 0, SEEK_END);
    off_t done = 0; // the target is a faithful copy up to here
    const auto stopped = [stop] { return stop && *stop; };
    while (done < size && !stopped()) {
        off_t data = ::lseek(from, done, SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO)
                break; // no SEEK_DATA here: the caller's loop copies the rest
            data = size; // only a hole is left
        }
        const off_t hole = data < size ? ::lseek(from, data, SEEK_HOLE) : size;
        if (hole < 0)
            break;
        off_t inPos = data;
        off_t outPos = data;
        while (inPos < hole && !stopped()) {
            const ssize_t n
                = ::copy_file_range(from, &inPos, to, &outPos,
                                    std::min<size_t>(size_t(hole - inPos), kKernelCopyChunk), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
        }
        if (inPos < hole) {
            done = inPos; // the kernel could not go on: the caller's loop will
            break;
        }
        done = hole;
    }
    // A source cut meanwhile shows no more data, which must not pass for a
    // hole: the copy is then only as long as what is left of the source.
    done = std::min<off_t>(done, ::lseek(from, 0, SEEK_END));
    // A hole at the end makes the target's length without writing.
    if (done == size && ::ftruncate(to, size) != 0)
        done = 0;
    // The files' own positions follow.
    in.seek(done);
    out.seek(done);
    return done;
}

bool isSameFile(const QString& a, const QString& b)
{
    struct stat sa = {};
    struct stat sb = {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0
        || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool withinPathLimits(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= PATH_MAX)
        return false;
    qsizetype nameStart = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes.at(i) == '/') {
            if (i - nameStart > NAME_MAX)
                return false;
            nameStart = i + 1;
        }
    }
    return true;
}

mode_t processUmask()
{
    // Read, not set and restored: other threads of the process create files.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

} // namespace TaviWebModuleInternal
